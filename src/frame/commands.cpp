// The command-number table, the command gate and PXMEND_DISABLE.
#include "frame/commands.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "frame/app.h"
#include "frame/dialogs.h"
#include "host/hostwrap.h"
#include "host/mdldialog.h"
#include "host/mdlresource.h"
#include "resources/ids.h"
#include "settings/settings.h"

CommandState g_commands;

namespace {

constexpr int GATE_SLOTS = 16;
constexpr int PROMPT_UNCHANGED = 0;

// One editing command: its gate slot and name, the command and prompt it sets, how it starts.
struct EditingCommand {
    int slot;
    const char* gateName;
    int activeCommand;
    int promptId;  // PROMPT_UNCHANGED keeps the current prompt
    void (*start)();
};

// Tells the user that the feature behind a command is still to come.
void v_notAvailable(const char* name) {
    char text[256];
    std::snprintf(text, sizeof text, "%s is not available yet in this version of PixelMend.", name);
    j_messageBox(MSGBOX_NOTICE, text, ICON_INFO);
}

// Resize starts from no amounts at all.
void v_resizeAmountsClear() {
    s__globals.ResizeRowsEnd = s__globals.ResizeRowsStart = 0;
    s__globals.ResizeColumnsStart = s__globals.ResizeColumnsEnd = 0;
    s__globals.ResizeOldSizeText[0] = '\0';
    s__globals.ResizeNewSizeText[0] = '\0';
}

void v_resizeStartCommand() {
    v_resizeAmountsClear();
    v_rasterPickStart();
}

// Detaching arrives with the scratch raster area.
void v_scratchDetachCommand() {
    v_notAvailable(pc_commandName(g_commands.activeCommand));
}

// Gate, running-command state, then the command's start.
void v_editingCommandRun(const EditingCommand& command) {
    if (!b_commandGate(command.slot, command.gateName))
        return;
    g_commands.activeCommand = command.activeCommand;
    if (command.promptId != PROMPT_UNCHANGED)
        g_commands.promptId = command.promptId;
    command.start();
}

constexpr EditingCommand COPY{1, "copy", CMD_COPY, 23, &v_operationStart};
constexpr EditingCommand MOVE{2, "move", CMD_MOVE, 23, &v_operationStart};
constexpr EditingCommand DELETE{3, "delete", CMD_DELETE, 25, &v_operationStart};
constexpr EditingCommand STAMP{5, "stamp", CMD_STAMP, 26, &v_operationStart};
constexpr EditingCommand CROP{4, "crop", CMD_CROP, 25, &v_operationStart};
constexpr EditingCommand DESKEW{6, "deskew", CMD_DESKEW, 26, &v_rasterPickStart};
constexpr EditingCommand DESPECKLE{7, "despeckle", CMD_DESPECKLE, 25, &v_operationStart};
constexpr EditingCommand BRUSH{8, "brush", CMD_BRUSH, 26, &v_rasterPickStart};
constexpr EditingCommand RESIZE{9, "resize", CMD_RESIZE, 26, &v_resizeStartCommand};
constexpr EditingCommand EDIT{15, "edit", CMD_EDIT, 26, &v_rasterPickStart};
constexpr EditingCommand SCRATCH_ATTACH{11, "scratch", CMD_SCRATCH_ATTACH, 27, &v_rasterPickStart};
constexpr EditingCommand SCRATCH_DETACH{12, "scratch", CMD_SCRATCH_DETACH, PROMPT_UNCHANGED, &v_scratchDetachCommand};

void cmdCopy(WCharCP) { v_editingCommandRun(COPY); }
void cmdMove(WCharCP) { v_editingCommandRun(MOVE); }
void cmdDelete(WCharCP) { v_editingCommandRun(DELETE); }
void cmdStamp(WCharCP) { v_editingCommandRun(STAMP); }
void cmdCrop(WCharCP) { v_editingCommandRun(CROP); }
void cmdDeskew(WCharCP) { v_editingCommandRun(DESKEW); }
void cmdDespeckle(WCharCP) { v_editingCommandRun(DESPECKLE); }
void cmdBrush(WCharCP) { v_editingCommandRun(BRUSH); }
void cmdResize(WCharCP) { v_editingCommandRun(RESIZE); }
void cmdEdit(WCharCP) { v_editingCommandRun(EDIT); }
void cmdScratchAttach(WCharCP) { v_editingCommandRun(SCRATCH_ATTACH); }
void cmdScratchDetach(WCharCP) { v_editingCommandRun(SCRATCH_DETACH); }

void cmdResizeApply(WCharCP) { v_notAvailable("Resize apply"); }
// Cancelling the resize tool only ends it.
void cmdResizeCancel(WCharCP) { mdlState_startDefaultCommand(); }

void cmdRasterTools(WCharCP) { mdlInput_sendKeyin(L"dialog toolbox 113 rastmgr", false, 0, nullptr); }
void cmdToolBox(WCharCP) { mdlDialog_open(nullptr, rid::DIALOG_TOOLBOX); }
void cmdUnload(WCharCP) { v_appUnloadQueue(); }

void cmdSettingsOpen(WCharCP) { v_notAvailable("Open settings"); }
void cmdSettingsSave(WCharCP) { v_notAvailable("Save settings"); }
void cmdSettingsSaveAs(WCharCP) { v_notAvailable("Save settings as"); }
void cmdSettingsAutoSave(WCharCP) { v_notAvailable("Save settings without asking"); }
void cmdSettingsDefaults(WCharCP) { v_notAvailable("Factory defaults"); }
void cmdSettingsDialog(WCharCP) { v_notAvailable("The settings dialog"); }
void cmdAbout(WCharCP) { v_notAvailable("About"); }
void cmdHelp(WCharCP) { v_notAvailable("Help"); }
void cmdGate(WCharCP) { b_commandGate(14, nullptr); }

const MdlCommandNumber commandNumbers[] = {
    {&cmdCopy, rid::CMD_COPY},
    {&cmdMove, rid::CMD_MOVE},
    {&cmdDelete, rid::CMD_DELETE},
    {&cmdStamp, rid::CMD_STAMP},
    {&cmdCrop, rid::CMD_CROP},
    {&cmdDeskew, rid::CMD_DESKEW},
    {&cmdDespeckle, rid::CMD_DESPECKLE},
    {&cmdBrush, rid::CMD_BRUSH},
    {&cmdResize, rid::CMD_RESIZE},
    {&cmdResizeApply, rid::CMD_RESIZE_APPLY},
    {&cmdResizeCancel, rid::CMD_RESIZE_CANCEL},
    {&cmdEdit, rid::CMD_EDIT},
    {&cmdScratchAttach, rid::CMD_SCRATCH_ATTACH},
    {&cmdScratchDetach, rid::CMD_SCRATCH_DETACH},
    {&cmdRasterTools, rid::CMD_RASTER_TOOLS},
    {&cmdToolBox, rid::CMD_TOOLBOX},
    {&cmdUnload, rid::CMD_UNLOAD},
    {&cmdSettingsOpen, rid::CMD_SETTINGS_OPEN},
    {&cmdSettingsSave, rid::CMD_SETTINGS_SAVE},
    {&cmdSettingsSaveAs, rid::CMD_SETTINGS_SAVEAS},
    {&cmdSettingsAutoSave, rid::CMD_SETTINGS_AUTOSAVE},
    {&cmdSettingsDefaults, rid::CMD_SETTINGS_DEFAULTS},
    {&cmdSettingsDialog, rid::CMD_SETTINGS_DIALOG},
    {&cmdAbout, rid::CMD_ABOUT},
    {&cmdHelp, rid::CMD_HELP},
    {&cmdGate, rid::CMD_GATE},
    {nullptr, 0},
};

// Case-insensitive equality of two narrow texts.
bool b_sameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Switches off every command of the string list whose name equals piece.
void v_commandDisable(const std::string& piece, StringList* names, MSDialog* toolBox, RawItemHdr* menuBar, TextPDM* menu) {
    const long count = mdlStringList_size(names);
    for (long i = 0; i < count; ++i) {
        WCharCP text = nullptr;
        InfoField* info = nullptr;
        if (mdlStringList_getMember(&text, &info, names, i) != 0 || !text || !info)
            continue;
        if (!b_sameIgnoringCase(piece, s_narrow(text)))
            continue;
        const long childIndex = info[0], slot = info[1];
        if (slot < 0 || slot >= GATE_SLOTS)
            continue;
        g_commands.disabledCommands[slot] = 1;
        if (toolBox && childIndex != -1)
            mdlDialog_toolBoxChildSetEnabledByIndex(toolBox, static_cast<int>(childIndex), false, false);
        if (menu)
            if (TextPDMItem* item = mdlDialog_menuBarFindItem(menuBar, RTYPE_PulldownMenu, rid::MENU_PULLDOWN, slot))
                mdlDialog_textPDMItemSetEnabled(item, false);
    }
}

}  // namespace

const MdlCommandNumber* pCommandNumberTable() {
    return commandNumbers;
}

const char* pc_commandName(int activeCommand) {
    const rsc::File* resources = MdlResources();
    for (const rsc::MessageList& list : resources->messageLists) {
        if (list.id != resources->commandNameList)
            continue;
        for (const rsc::Message& message : list.messages)
            if (message.id == activeCommand)
                return message.text;
    }
    return "PixelMend";
}

bool b_commandGate(int slot, const char* name) {
    if (mdlModelRef_isReadOnly(mdlModelRef_getActive())) {
        j_messageBox(MSGBOX_NOTICE,
                     "Active model is read-only. It is impossible for PixelMend to modify rasters in this model.",
                     ICON_ERROR);
        return false;
    }
    if (slot >= 0 && slot < GATE_SLOTS && g_commands.disabledCommands[slot]) {
        j_messageBox(MSGBOX_NOTICE, "This command is disabled by your PXMEND_DISABLE variable.", ICON_ERROR);
        return false;
    }
    if (name && mdlDialog_getToolSettings())
        std::snprintf(s__globals.HelpTopic, sizeof s__globals.HelpTopic, "%s", name);
    return true;
}

void v_commandsDisable() {
    RawItemHdr* menuBar = mdlDialog_menuBarGetCmdWinP();
    if (!menuBar)
        return;
    TextPDM* menu = mdlDialog_menuBarFindMenu(menuBar, RTYPE_PulldownMenu, rid::MENU_PULLDOWN);
    MSDialog* toolBox = mdlDialog_find(rid::DIALOG_TOOLBOX, mdlSystem_getCurrTaskID());
    char value[256];
    if (j_cfgVarGet(value, sizeof value, "PXMEND_DISABLE") != 0)
        return;
    for (char* c = value; *c; ++c)
        *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    StringList* names = mdlStringList_loadResource(nullptr, rid::STRINGS_COMMANDS);
    for (int& flag : g_commands.disabledCommands)
        flag = 0;
    if (!names)
        return;
    const std::string list(value);
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        std::size_t first = start;
        while (first < comma && std::isspace(static_cast<unsigned char>(list[first])))
            ++first;
        if (first < comma)
            v_commandDisable(list.substr(first, comma - first), names, toolBox, menuBar, menu);
        start = comma + 1;
    }
    mdlStringList_destroy(names);
}

void v_operationStart() {
    v_notAvailable(pc_commandName(g_commands.activeCommand));
}

void v_rasterPickStart() {
    v_notAvailable(pc_commandName(g_commands.activeCommand));
}
