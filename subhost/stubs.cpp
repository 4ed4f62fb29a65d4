// First cut of the host: every call answers minimally so that the add-on links.
#include <cstring>
#include <cwchar>

#include "host/mdldialog.h"
#include "host/mdlsystem.h"
#include "host/winapi.h"
#include "subhost/host.h"

namespace subhost {
namespace {
struct StubState {
    std::vector<nlohmann::json> events;
    std::ostream* stream = nullptr;
};
StubState& stub() {
    static StubState s;
    return s;
}
}  // namespace

void hostReset() { stub().events.clear(); }
const std::vector<nlohmann::json>& transcript() { return stub().events; }
void clearTranscript() { stub().events.clear(); }
void setTranscriptStream(std::ostream* out) { stub().stream = out; }
void recordEvent(nlohmann::json event) {
    if (stub().stream) *stub().stream << event.dump() << "\n";
    stub().events.push_back(std::move(event));
}
void setCfgVar(const std::string&, std::optional<std::string>) {}
void setVersion(int, int) {}
void queueAnswer(int) {}
void setDefaultAnswer(std::optional<int>) {}
void queueFileAnswer(std::optional<std::string>) {}
void queueColorAnswer(std::optional<std::array<std::uint8_t, 3>>) {}
bool openDesign(const std::string&, std::string* error) {
    if (error) *error = "not yet";
    return false;
}
void closeDesign() {}
bool loadApplication(const std::string&, const std::string&, std::string* error) {
    if (error) *error = "not yet";
    return false;
}
bool loadLinkedApplication(int (*)(int, WCharCP*), const rsc::File* (*)(), const std::string&, const std::string&,
                           std::string* error) {
    if (error) *error = "not yet";
    return false;
}
int unloadApplication(int) { return 1; }
bool applicationLoaded() { return false; }
bool keyin(const std::string&, std::string*) { return false; }
void runCommand(CommandNumber, const std::string&) {}
void dataPoint(DPoint3d, int) {}
void resetButton() {}
void cursorMove(DPoint3d, int) {}
bool setField(const std::string&, const std::string&, std::string*) { return false; }
void toolSettings(bool) {}
bool itemSet(const std::string&, std::uint32_t, int, const std::string&, std::string*) { return false; }
bool itemPress(const std::string&, std::uint32_t, int, std::string*) { return false; }
bool closeDialog(const std::string&, std::string*) { return false; }
nlohmann::json dumpSettings() { return {}; }
nlohmann::json dumpItems(const std::string&) { return {}; }
int runSession(const std::string&, std::optional<int>, std::ostream&, std::ostream&) { return 2; }
}  // namespace subhost

namespace SystemCallback {
void SetUnloadProgramFunction(UnloadProgramFunc) {}
void SetNewDesignFileFunction(NewDesignFileFunc) {}
}  // namespace SystemCallback
namespace StateCallback {
void SetCommandCleanupFunction(StateFunc_Cleanup) {}
void SetComplexDynamicsFunction(StateFunc_ComplexDynamics) {}
}  // namespace StateCallback

extern "C" {
int mdlDialog_hookPublish(int, const DialogHookInfo*) { return 0; }
SymbolSet* mdlCExpression_initializeSet(int, int, int) { return nullptr; }
int mdlDialog_publishComplexVariable(SymbolSet*, const char*, const char*, void*) { return 0; }
MSDialog* mdlDialog_open(RscFileHandle, int) { return nullptr; }
MSDialog* mdlDialog_create(RscFileHandle, int) { return nullptr; }
MSDialog* mdlDialog_find(int, WCharCP) { return nullptr; }
MSDialog* mdlDialog_getToolSettings() { return nullptr; }
int mdlDialog_closeCommandQueue(MSDialog*) { return 0; }
int mdlDialog_getDialogId(MSDialog*) { return 0; }
MSWindow* mdlDialog_getWindow(MSDialog*) { return nullptr; }
int mdlWindow_titleSet(MSWindow*, WCharCP) { return 0; }
void mdlDialog_adjustPopDownHeight(MSDialog*) {}
DialogItem* mdlDialog_itemGetByTypeAndId(MSDialog*, std::uint32_t, int, int) { return nullptr; }
DialogItem* mdlDialog_itemGetByIndex(MSDialog*, int) { return nullptr; }
int mdlDialog_itemSetEnabledState(MSDialog*, int, bool, bool) { return 0; }
int mdlDialog_itemShow(MSDialog*, int) { return 0; }
int mdlDialog_itemHide(MSDialog*, int, bool) { return 0; }
int mdlDialog_itemsSynch(MSDialog*) { return 0; }
int mdlDialog_itemSynch(MSDialog*, int) { return 0; }
int mdlDialog_itemDraw(MSDialog*, int) { return 0; }
int mdlDialog_itemGetValue(MSValueDescr*, WCharP text, MSDialog*, int, int textSize) {
    if (text && textSize > 0) text[0] = 0;
    return ERROR;
}
int mdlDialog_itemSetValue(const MSValueDescr*, WCharCP, MSDialog*, int) { return ERROR; }
int mdlDialog_itemSetState(MSDialog*, int) { return ERROR; }
int mdlDialog_colorPickerSetColorTable(DialogItem*, const ColorPaletteEntry*, int) { return 0; }
int mdlWindow_lineDraw(MSWindow*, const Point2d*, int, int, int) { return 0; }
int mdlWindow_iconDraw(MSWindow*, const BSIRect*, int) { return 0; }
int mdlWindow_rectFillByRGB(MSWindow*, const BSIRect*, const RGBColorDef*) { return 0; }
int mdlDialog_rectDrawBeveled(MSWindow*, const BSIRect*, bool, bool) { return 0; }
RawItemHdr* mdlDialog_menuBarGetCmdWinP() { return nullptr; }
TextPDM* mdlDialog_menuBarFindMenu(RawItemHdr*, std::uint32_t, int) { return nullptr; }
int mdlDialog_menuBarDeleteMenu(TextPDM*, RawItemHdr*, std::uint32_t, int) { return 0; }
TextPDMItem* mdlDialog_menuBarFindItem(RawItemHdr*, std::uint32_t, int, long) { return nullptr; }
int mdlDialog_textPDMItemSetEnabled(TextPDMItem*, bool) { return 0; }
int mdlDialog_textPDMItemSetMark(TextPDMItem*, int) { return 0; }
int mdlDialog_toolBoxChildSetEnabledByIndex(MSDialog*, int, bool, bool) { return 0; }
int mdlDialog_openMessageBox(int, WCharCP, int) { return ACTIONBUTTON_OK; }
CompletionBar* mdlDialog_completionBarOpen(WCharCP) { return nullptr; }
void mdlDialog_completionBarUpdate(CompletionBar*, WCharCP, int) {}
void mdlDialog_completionBarClose(CompletionBar*) {}
int mdlDialog_fileOpen(WCharP, RscFileHandle, int, WCharCP, WCharCP, WCharCP, WCharCP) { return 1; }
int mdlDialog_fileCreate(WCharP, RscFileHandle, int, WCharCP, WCharCP, WCharCP, WCharCP) { return 1; }
StringList* mdlStringList_create(long, int) { return nullptr; }
StringList* mdlStringList_loadResource(RscFileHandle, int) { return nullptr; }
void mdlStringList_destroy(StringList*) {}
long mdlStringList_size(StringList*) { return 0; }
int mdlStringList_getMember(WCharCP*, InfoField**, StringList*, long) { return ERROR; }
int mdlStringList_setMember(StringList*, long, WCharCP, const InfoField*) { return ERROR; }
long mdlStringList_insertMember(StringList*, long, WCharCP) { return -1; }
int mdlStringList_deleteAll(StringList*) { return 0; }

RscFileHandle mdlResource_openFile(RscFileHandle* handle, WCharCP, int) {
    if (handle) *handle = nullptr;
    return nullptr;
}
int mdlParse_loadCommandTable(RscFileHandle) { return 0; }
int mdlSystem_registerCommandNumbers(const MdlCommandNumber*) { return 0; }
void* mdlResource_load(RscFileHandle, std::uint32_t, int) { return nullptr; }
void mdlResource_free(void*) {}
WCharCP mdlSystem_getCurrTaskID() { return L""; }
int mdlSystem_getCfgVar(WCharP value, WCharCP, int size) {
    if (value && size > 0) value[0] = 0;
    return ERROR;
}
void mdlVersion_getVersionNumbers(VersionNumber* version) {
    if (version) *version = VersionNumber{10, 17, 0, 0};
}
void mdlDialog_cmdNumberQueue(bool, CommandNumber, WCharCP, bool) {}
void mdlInput_sendKeyin(WCharCP, bool, int, WCharCP) {}
void mdlInput_sendCommand(CommandNumber, WCharCP, int, WCharCP, bool) {}
int mdlState_startPrimitive(StateFunc_DataPoint, StateFunc_Reset, int, int) { return 0; }
void mdlState_startDefaultCommand() {}
void mdlState_clear() {}
void mdlState_dynamicUpdate() {}
void mdlOutput_printf(int, WCharCP) {}
void mdlOutput_rscPrintf(int, RscFileHandle, int, int) {}
void mdlOutput_error(WCharCP) {}
void mdlOutput_messageCenter(int, WCharCP, WCharCP, bool) {}
int mdlFile_find(WCharP expandedName, WCharCP, WCharCP, WCharCP) {
    if (expandedName) expandedName[0] = 0;
    return ERROR;
}
int mdlFile_parseName(WCharCP, WCharP, WCharP, WCharP, WCharP) { return ERROR; }
int mdlFile_buildName(WCharP fileName, WCharCP, WCharCP, WCharCP, WCharCP) {
    if (fileName) fileName[0] = 0;
    return ERROR;
}
int mdlFile_copy(WCharCP, WCharCP) { return ERROR; }
DgnModelRefP mdlModelRef_getActive() { return nullptr; }
bool mdlModelRef_isReadOnly(DgnModelRefP) { return false; }
int mdlColor_elementColorFromRGB(const RGBColorDef*, DgnModelRefP) { return 0; }
int mdlRaster_initialize() { return 0; }
void mdlRaster_terminate() {}
void mdlUndo_startGroup() {}
void mdlUndo_endGroup() {}
int mdlUndo_undoActions(int) { return 0; }
int mdlErrno_get() { return 0; }
int ChooseColorA(CHOOSECOLORA*) { return 0; }
}  // extern "C"
