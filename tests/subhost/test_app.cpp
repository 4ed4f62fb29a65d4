// The test application: resources, commands, hooks and callbacks that log.
#include "subhost/test_app.h"

#include <cstddef>
#include <string>

#include "host/mdldialog.h"
#include "host/mdlsystem.h"
#include "host/utf8text.h"

namespace testapp {
namespace {

std::string narrow(WCharCP text) { return text ? s_utf8Narrow(text) : std::string(); }

void log(std::string entry) { state().log.push_back(std::move(entry)); }

// ---- Resources ----

const rsc::CommandEntry kAlphaSub[] = {
    {1, "ONE", {}, 0},
    {2, "OTHER", {}, 300},
    {3, "TWO", {}, 0},
};
const rsc::CommandEntry kTable[] = {
    {1, "ALPHA", kAlphaSub, 0}, {2, "ALPINE", {}, 0},   {3, "BETA", {}, 301}, {4, "QUEUE", {}, 0},
    {5, "TOOL", {}, 0},         {6, "UNLOADME", {}, 0}, {7, "ASK", {}, 0},
};
const rsc::Message kNames[] = {{1, "Test Tool"}};
const rsc::Message kPrompts[] = {{1, "Enter a point"}};
const rsc::MessageList kLists[] = {{1, kNames}, {2, kPrompts}};
const rsc::StringListMember kMembers[] = {{"first", {1, 2, 0, 0}}, {"second", {3, 4, 0, 0}}};
const rsc::StringList kStringLists[] = {{100, 2, kMembers}};
const rsc::OptionChoice kModes[] = {{"Off", 0}, {"On", 1}, {"Auto", 2}};

constexpr rsc::Item item(std::uint32_t type, int id, const char* access, long hook, bool enabled = true, int action = 0,
                         CommandNumber command = 0) {
    return rsc::Item{type, id, "label", access, hook, 0, enabled, true, {}, action, command, 0};
}

const rsc::Item kMainItems[] = {
    item(RTYPE_Text, 1, "s__rec.Number", 41),
    item(RTYPE_Text, 2, "s__rec.Ratio", 41),
    item(RTYPE_ToggleButton, 3, "s__rec.Flag", 41),
    rsc::Item{RTYPE_OptionButton, 4, "Mode", "s__rec.Mode", 41, 0, true, true, kModes, 0, 0, 0},
    item(RTYPE_PushButton, 5, "", 0, true, ACTIONBUTTON_OK),
    item(RTYPE_Generic, 7, "", 42),
    item(RTYPE_Text, 8, "s__rec.Name", 0),
    item(RTYPE_Text, 9, "s__rec.Values[2]", 0),
    item(RTYPE_Text, 10, "", 0, false),
    item(RTYPE_PushButton, 11, "", 0, true, 0, kBeta),
};
const rsc::Item kBoxItems[] = {
    item(RTYPE_PushButton, 1, "", 0, true, ACTIONBUTTON_OK),
    item(RTYPE_PushButton, 2, "", 0, true, ACTIONBUTTON_SAVEAS),
    item(RTYPE_PushButton, -4, "", 0, true, ACTIONBUTTON_CANCEL),
};
const rsc::Item kNoticeItems[] = {item(RTYPE_PushButton, 1, "", 0, true, ACTIONBUTTON_OK)};
const rsc::Item kToolA[] = {item(RTYPE_Text, 1, "s__rec.Number", 41)};
const rsc::Item kToolB[] = {item(RTYPE_ToggleButton, 3, "s__rec.Flag", 41)};
const rsc::Dialog kDialogs[] = {
    {400, RTYPE_DialogBox, "Main", 40, kMainItems},    {500, RTYPE_DialogBox, "Question", 0, kBoxItems},
    {501, RTYPE_DialogBox, "Notice", 0, kNoticeItems}, {300, RTYPE_DialogBox, "Tool A", 0, kToolA},
    {301, RTYPE_DialogBox, "Tool B", 0, kToolB},
};
const rsc::MenuItem kMenuItems[] = {{"Beta", 1, kBeta, ""}};
const rsc::Menu kMenus[] = {{RTYPE_PulldownMenu, 111, "Test", kMenuItems}};
const rsc::Icon kIcons[] = {{29, 16, 16, "icon"}};
const rsc::Field kFields[] = {
    {"Number", offsetof(Record, Number), rsc::FieldKind::Int32, 1, 4},
    {"Ratio", offsetof(Record, Ratio), rsc::FieldKind::Double, 1, 8},
    {"Flag", offsetof(Record, Flag), rsc::FieldKind::Int32, 1, 4},
    {"Mode", offsetof(Record, Mode), rsc::FieldKind::Int32, 1, 4},
    {"Name", offsetof(Record, Name), rsc::FieldKind::Text, 1, sizeof(Record::Name)},
    {"Values", offsetof(Record, Values), rsc::FieldKind::Int32, 4, 4},
    {"Color", offsetof(Record, Color), rsc::FieldKind::Rgb, 1, 3},
};
const rsc::RecordType kTypes[] = {{"t_rec", sizeof(Record), kFields}};
const rsc::File kFile{"TESTAPP", kTable, 1, 2, kLists, kStringLists, kDialogs, {}, kMenus, kIcons, kTypes};

// ---- Hooks ----

void itemHook(DialogItemMessage* msg) {
    std::string entry =
        "item:" + std::to_string(msg->dialogItemP ? msg->dialogItemP->id : 0) + ":" + std::to_string(msg->messageType);
    if (msg->messageType == DITEM_MESSAGE_BUTTON) entry += ":" + std::to_string(msg->buttonTrans);
    if (msg->messageType == DITEM_MESSAGE_STATECHANGED) entry += msg->reallyChanged ? ":changed" : ":same";
    if (msg->messageType == DITEM_MESSAGE_JUSTIFY) {
        MSValueDescr value;
        wchar_t text[64];
        mdlDialog_itemGetValue(&value, text, msg->db, msg->itemIndex, 64);
        state().valueAtJustify = narrow(text);
        state().numberAtJustify = state().record.Number;
    }
    log(entry);
}

void drawHook(DialogItemMessage* msg) {
    if (msg->messageType != DITEM_MESSAGE_DRAW) {
        msg->msgUnderstood = false;
        return;
    }
    const Point2d line[2] = {{1, 2}, {3, 4}};
    mdlWindow_lineDraw(mdlDialog_getWindow(msg->db), line, 2, 0, 0);
}

void dialogHook(DialogMessage* msg) {
    log("dialog:" + std::to_string(msg->messageType) + ":" + std::to_string(msg->value1) + ":" +
        std::to_string(msg->value2));
    if (msg->messageType == DIALOG_MESSAGE_ACTIONBUTTON) msg->abortAction = state().abortAction;
}

const DialogHookInfo kHooks[] = {{40, nullptr, dialogHook}, {41, itemHook, nullptr}, {42, drawHook, nullptr}};

// ---- Commands and callbacks ----

void cmdOne(WCharCP arg) { log("one:" + narrow(arg)); }
void cmdOther(WCharCP arg) { log("other:" + narrow(arg)); }
void cmdTwo(WCharCP arg) { log("two:" + narrow(arg)); }
void cmdAlpine(WCharCP arg) { log("alpine:" + narrow(arg)); }
void cmdBeta(WCharCP arg) { log("beta:" + narrow(arg)); }
void cmdQueue(WCharCP) {
    mdlDialog_cmdNumberQueue(false, kAlphaOne, L"back", true);
    mdlDialog_cmdNumberQueue(true, kAlphaTwo, L"front", true);
    mdlInput_sendKeyin(L"beta typed", false, 0, nullptr);
    log("queue:end");
}
void toolData(const DPoint3d* p, int view) { log("data:" + std::to_string(int(p->x)) + ":" + std::to_string(view)); }
void toolReset() { log("reset"); }
void toolCleanup() { log("cleanup"); }
void toolDynamics(const DPoint3d* p, int view, int mode) {
    log("dyn:" + std::to_string(int(p->x)) + ":" + std::to_string(view) + ":" + std::to_string(mode));
}
void cmdTool(WCharCP) {
    mdlState_startPrimitive(toolData, toolReset, 1, 1);
    StateCallback::SetCommandCleanupFunction(toolCleanup);
    StateCallback::SetComplexDynamicsFunction(toolDynamics);
}
void cmdUnloadMe(WCharCP) { mdlDialog_cmdNumberQueue(false, CMD_MDL_UNLOAD, mdlSystem_getCurrTaskID(), true); }

void cmdAsk(WCharCP) { log("ask:" + std::to_string(mdlDialog_openMessageBox(MSGBOX_YESNO, L"Go on?", 2))); }

int unloadFunc(int type) {
    log("unload:" + std::to_string(type));
    return state().unloadAnswer;
}
void newDesign(WCharCP name, std::uint32_t reason) { log("design:" + std::to_string(reason) + ":" + narrow(name)); }

const MdlCommandNumber kCommands[] = {
    {cmdOne, kAlphaOne},   {cmdOther, kAlphaOther}, {cmdTwo, kAlphaTwo},      {cmdAlpine, kAlpine}, {cmdBeta, kBeta},
    {cmdQueue, kQueueing}, {cmdTool, kTool},        {cmdUnloadMe, kUnloadMe}, {cmdAsk, kAsk},       {nullptr, 0},
};

}  // namespace

State& state() {
    static State s;
    return s;
}

void reset() { state() = State{}; }

int mdlMain(int argc, WCharCP argv[]) {
    log("main:" + std::to_string(argc) + ":" + narrow(argv[1]));
    RscFileHandle rsc = nullptr;
    mdlResource_openFile(&rsc, nullptr, 0);
    mdlParse_loadCommandTable(nullptr);
    mdlDialog_hookPublish(3, kHooks);
    mdlDialog_publishComplexVariable(mdlCExpression_initializeSet(4, 0, 0), "t_rec", "s__rec", &state().record);
    SystemCallback::SetUnloadProgramFunction(unloadFunc);
    SystemCallback::SetNewDesignFileFunction(newDesign);
    mdlSystem_registerCommandNumbers(kCommands);
    return 1;
}

const rsc::File* resources() { return &kFile; }

}  // namespace testapp
