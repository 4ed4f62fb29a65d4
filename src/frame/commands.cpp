// The command-number table, the command gate and PXMEND_DISABLE, and the tool states that choose
// the area or the raster of an editing command and hand it to its operation.
#include "frame/commands.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "cleanup/deskew.h"
#include "cleanup/despeckle.h"
#include "edit/block.h"
#include "edit/blockops.h"
#include "edit/external.h"
#include "edit/resize.h"
#include "edit/scratch.h"
#include "frame/app.h"
#include "frame/dialogs.h"
#include "frame/help.h"
#include "host/hostwrap.h"
#include "host/mdldialog.h"
#include "host/mdlelement.h"
#include "host/messages.h"
#include "raster/context.h"
#include "raster/target.h"
#include "resources/ids.h"
#include "resources/resources.h"
#include "settings/dialog.h"
#include "settings/settings.h"

void v_featureLater(const char* name) {
    char text[256];
    std::snprintf(text, sizeof text, "%s is not available yet in this version of PixelMend.", name);
    j_messageBox(MSGBOX_NOTICE, text, ICON_INFO);
}

namespace {

constexpr int GATE_SLOTS = 16;

// Module state of the commands: the running command's prompt and the switched-off commands.
struct CommandState {
    int promptId = 0;                       // prompt of the command's later tool states
    int disabledCommands[GATE_SLOTS] = {};  // by gate slot: 1 when PXMEND_DISABLE switches the command off
};

CommandState g_commands;

// One editing command: its gate slot and name, the command and prompt it sets, how it starts.
struct EditingCommand {
    int slot;
    const char* gateName;
    int activeCommand;
    int promptId;  // rid::PROMPT_KEEP keeps the current prompt
    void (*start)();
};

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

void v_scratchDetachCommand() { v_scratchDetach(false); }

// Gate, running-command state, then the command's start.
void v_editingCommandRun(const EditingCommand& command) {
    if (!b_commandGate(command.slot, command.gateName)) return;
    v_activeCommandSet(command.activeCommand);
    if (command.promptId != rid::PROMPT_KEEP) g_commands.promptId = command.promptId;
    command.start();
}

constexpr EditingCommand COPY{1, "copy", CMD_COPY, rid::PROMPT_BASE_POINT, &v_operationStart};
constexpr EditingCommand MOVE{2, "move", CMD_MOVE, rid::PROMPT_BASE_POINT, &v_operationStart};
constexpr EditingCommand DELETE{3, "delete", CMD_DELETE, rid::PROMPT_ACCEPT, &v_operationStart};
constexpr EditingCommand STAMP{5, "stamp", CMD_STAMP, rid::PROMPT_IDENTIFY_RASTER, &v_operationStart};
constexpr EditingCommand CROP{4, "crop", CMD_CROP, rid::PROMPT_ACCEPT, &v_operationStart};
constexpr EditingCommand DESKEW{6, "deskew", CMD_DESKEW, rid::PROMPT_IDENTIFY_RASTER, &v_rasterPickStart};
constexpr EditingCommand DESPECKLE{7, "despeckle", CMD_DESPECKLE, rid::PROMPT_ACCEPT, &v_operationStart};
constexpr EditingCommand BRUSH{8, "brush", CMD_BRUSH, rid::PROMPT_IDENTIFY_RASTER, &v_rasterPickStart};
constexpr EditingCommand RESIZE{9, "resize", CMD_RESIZE, rid::PROMPT_IDENTIFY_RASTER, &v_resizeStartCommand};
constexpr EditingCommand EDIT{15, "edit", CMD_EDIT, rid::PROMPT_IDENTIFY_RASTER, &v_rasterPickStart};
constexpr EditingCommand SCRATCH_ATTACH{11, "scratch", CMD_SCRATCH_ATTACH, rid::PROMPT_IDENTIFY_SCRATCH,
                                        &v_rasterPickStart};
constexpr EditingCommand SCRATCH_DETACH{12, "scratch", CMD_SCRATCH_DETACH, rid::PROMPT_KEEP, &v_scratchDetachCommand};

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

void cmdResizeApply(WCharCP) { v_resizeApply(); }
void cmdResizeCancel(WCharCP) { v_resizeCancel(); }

void cmdRasterTools(WCharCP) { mdlInput_sendKeyin(L"dialog toolbox 113 rastmgr", false, 0, nullptr); }
void cmdToolBox(WCharCP) { mdlDialog_open(nullptr, rid::DIALOG_TOOLBOX); }
void cmdUnload(WCharCP) { v_appUnloadQueue(); }

void cmdSettingsOpen(WCharCP) { v_settingsOpenCommand(); }
void cmdSettingsSave(WCharCP) { v_settingsSaveCommand(); }
void cmdSettingsSaveAs(WCharCP) { v_settingsSaveAsCommand(); }
void cmdSettingsAutoSave(WCharCP) { v_settingsAutoSaveCommand(); }
void cmdSettingsDefaults(WCharCP) { v_settingsDefaultsCommand(); }
void cmdSettingsDialog(WCharCP) { v_settingsDialogOpen(); }
void cmdAbout(WCharCP) { v_aboutShow(); }
void cmdHelp(WCharCP argument) { v_helpCommand(argument); }
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

// Switches off every command of the string list whose name equals piece.
void v_commandDisable(const std::string& piece, StringList* names, MSDialog* toolBox, RawItemHdr* menuBar,
                      TextPDM* menu) {
    const long count = mdlStringList_size(names);
    for (long i = 0; i < count; ++i) {
        WCharCP text = nullptr;
        InfoField* info = nullptr;
        if (mdlStringList_getMember(&text, &info, names, i) != 0 || !text || !info) continue;
        if (n_nameCompare(piece.c_str(), s_narrow(text).c_str()) != 0) continue;
        const long childIndex = info[0], slot = info[1];
        if (slot < 0 || slot >= GATE_SLOTS) continue;
        v_commandSlotDisable(int(slot));
        if (toolBox && childIndex != -1)
            mdlDialog_toolBoxChildSetEnabledByIndex(toolBox, static_cast<int>(childIndex), false, false);
        if (menu)
            if (TextPDMItem* item = mdlDialog_menuBarFindItem(menuBar, RTYPE_PulldownMenu, rid::MENU_PULLDOWN, slot))
                mdlDialog_textPDMItemSetEnabled(item, false);
    }
}

}  // namespace

const MdlCommandNumber* pCommandNumberTable() { return commandNumbers; }

int n_promptId() { return g_commands.promptId; }

bool b_commandDisabled(int slot) { return slot >= 0 && slot < GATE_SLOTS && g_commands.disabledCommands[slot] != 0; }

void v_commandSlotDisable(int slot) {
    if (slot >= 0 && slot < GATE_SLOTS) g_commands.disabledCommands[slot] = 1;
}

void v_commandsReset() { g_commands = CommandState{}; }

bool b_commandGate(int slot, const char* name) {
    if (mdlModelRef_isReadOnly(mdlModelRef_getActive())) {
        j_messageBox(MSGBOX_NOTICE,
                     "Active model is read-only. It is impossible for PixelMend to modify rasters in this model.",
                     ICON_ERROR);
        return false;
    }
    if (b_commandDisabled(slot)) {
        j_messageBox(MSGBOX_NOTICE, "This command is disabled by your PXMEND_DISABLE variable.", ICON_ERROR);
        return false;
    }
    if (name && mdlDialog_getToolSettings())
        std::snprintf(s__globals.HelpTopic, sizeof s__globals.HelpTopic, "%s", name);
    return true;
}

void v_commandsDisable() {
    RawItemHdr* menuBar = mdlDialog_menuBarGetCmdWinP();
    if (!menuBar) return;
    TextPDM* menu = mdlDialog_menuBarFindMenu(menuBar, RTYPE_PulldownMenu, rid::MENU_PULLDOWN);
    MSDialog* toolBox = mdlDialog_find(rid::DIALOG_TOOLBOX, mdlSystem_getCurrTaskID());
    char value[256];
    if (j_cfgVarGet(value, sizeof value, "PXMEND_DISABLE") != 0) return;
    StringList* names = mdlStringList_loadResource(nullptr, rid::STRINGS_COMMANDS);
    for (int& flag : g_commands.disabledCommands) flag = 0;
    if (!names) return;
    const std::string list(value);
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::size_t first = start;
        while (first < comma && std::isspace(static_cast<unsigned char>(list[first]))) ++first;
        if (first < comma) v_commandDisable(list.substr(first, comma - first), names, toolBox, menuBar, menu);
        start = comma + 1;
    }
    mdlStringList_destroy(names);
}

namespace {

// Commands that may work on a read-only file: they add clip masks, clip boundaries or new files.
bool b_allowReadOnly(int command) { return command == CMD_COPY || command == CMD_DELETE || command == CMD_CROP; }

void v_noRasterMessage() {
    j_messageBox(MSGBOX_NOTICE, "The active model doesn't contain any raster reference attachments.", ICON_ERROR);
}

// Reset of the raster pick: back to the host's default command.
void v_rasterPickReset() { mdlState_startDefaultCommand(); }

// Clean-up when the command ends: despeckle gives its library back, the block's transient goes.
void v_operationCleanup() {
    if (activeCommand() == CMD_DESPECKLE) v_despeckleRelease();
    v_blockTransientDrop();
}

}  // namespace

// Reset of the operation states: a new base point, another raster, the end, or a new area.
void v_operationReset() {
    if (g_block.blockPointCounter >= 1 && activeCommand() != CMD_DELETE) {
        StateCallback::SetComplexDynamicsFunction(nullptr);
        g_block.blockPointCounter = 0;
        v_promptShow(g_commands.promptId);
        return;
    }
    if (operationMode() == AREA_WHOLE_RASTER) {
        v_rasterPickStart();
    } else if (operationMode() == AREA_FENCE && g_block.fenceExisted) {
        mdlState_startDefaultCommand();
    } else {
        // The fence made from the two corners goes; the user's own fence stays.
        if (operationMode() == AREA_FENCE) mdlFence_clear(true);
        v_operationStart();
    }
}

void v_operationStart() {
    DgnRasterP only = nullptr;
    const int count = n_rasterCount(&only);
    if (count == 0) {
        v_noRasterMessage();
        return;
    }
    const int command = activeCommand();
    if (count == 1 && j_rasterCheckSupport(only, b_allowReadOnly(command), false) != 0) return;
    v_commandRasterSelect(nullptr, currentTarget());
    g_block.blockPointCounter = 0;
    v_toolSettingsRefresh();
    if (command == CMD_DESPECKLE)
        v_operationModeSet(s__globals.DespeckleMode);
    else if (command == CMD_STAMP)
        v_operationModeSet(s__globals.StampMode);
    else
        v_operationModeSet(s__globals.ModifyMode);

    switch (operationMode()) {
    case AREA_FENCE:
        g_block.fenceExisted = b_fenceToOutline();
        if (g_block.fenceExisted) {
            g_block.blockView = mdlView_getCurrent();
            v_fenceOperationStart();
        } else {
            mdlState_startPrimitive(&v_blockCornerPoint, &v_blockCornerReset, command, rid::PROMPT_FENCE_FIRST);
        }
        break;
    case AREA_BLOCK:
        mdlState_startPrimitive(&v_blockCornerPoint, &v_blockCornerReset, command, rid::PROMPT_BLOCK_FIRST);
        break;
    case AREA_WHOLE_RASTER:
    case AREA_PICK_3:
    case AREA_PICK_5:
        v_rasterPickStart();
        break;
    default:
        break;
    }
}

void v_rasterPickStart() {
    if (mdlDialog_getToolSettings()) mdlDialog_itemsSynch(mdlDialog_getToolSettings());
    v_commandRasterSelect(currentRaster(), nullptr);
    v_operationModeSet(AREA_WHOLE_RASTER);
    DgnRasterP only = nullptr;
    const int count = n_rasterCount(&only);
    if (count == 0) {
        v_noRasterMessage();
        return;
    }
    const int command = activeCommand();
    const bool alwaysPick = command == CMD_STAMP || command == CMD_DESPECKLE || command == CMD_EDIT;
    if (count == 1 && !alwaysPick) {
        const bool allowReadOnly = b_allowReadOnly(command) || command == CMD_SCRATCH_ATTACH;
        if (j_rasterCheckSupport(only, allowReadOnly, false) == 0) j_rasterDispatch(only, 0);
        return;
    }
    mdlState_startPrimitive([](const DPoint3d* point, int view) { j_rasterPickData(point, view); }, &v_rasterPickReset,
                            command,
                            command == CMD_SCRATCH_ATTACH ? rid::PROMPT_IDENTIFY_SCRATCH : rid::PROMPT_IDENTIFY_RASTER);
}

int j_rasterPickData(const DPoint3d* point, int view) {
    DgnRasterP raster = mdlRaster_viewFindRaster(point, view);
    if (!raster) {
        v_commandRasterSelect(nullptr, currentTarget());
        j_messageBox(MSGBOX_NOTICE, "Raster not found.", ICON_ERROR);
        return 0;
    }
    j_rasterDispatch(raster, view);
    return 0;
}

int j_rasterDispatch(DgnRasterP raster, int view) {
    const int command = activeCommand();
    const bool allowReadOnly = command == CMD_SCRATCH_ATTACH || command == CMD_EDIT;
    RasterTarget* target = pv_rasterTargetLoad(raster, allowReadOnly, false);
    v_commandRasterSelect(raster, target);
    if (!target) return ERROR;
    if (command == CMD_BRUSH) {
        v_brushStart();
        return 0;
    }
    if (command == CMD_STAMP && s__globals.StampMode == 3 && !mdlSelect_isActive()) {
        j_messageBox(MSGBOX_NOTICE, "No elements are selected. Please select elements to stamp and re-run Stamp.",
                     ICON_ERROR);
        return ERROR;
    }
    switch (command) {
    case CMD_RESIZE:
        v_resizeStart(view);
        break;
    case CMD_SCRATCH_ATTACH:
        v_scratchAttach();
        break;
    case CMD_EDIT:
        v_editExternal();
        break;
    case CMD_DESKEW:
        v_deskewStart(0);
        break;
    default:
        v_operationProcessPoint(nullptr, view);
        break;
    }
    return 0;
}

void v_fenceOperationStart() {
    g_block.blockPointCounter = 0;
    StateCallback::SetCommandCleanupFunction(nullptr);
    StateCallback::SetComplexDynamicsFunction(nullptr);
    mdlState_clear();
    v_commandRasterSelect(pv_rasterFindAtPoints(g_block.blockOutline, g_block.blockOutlineCount, g_block.blockView),
                          currentTarget());
    v_toolSettingsRefresh();
    const int command = activeCommand();
    StateFunc_DataPoint function = &v_operationProcessPoint;
    if (command == CMD_COPY || command == CMD_MOVE)
        function = &v_copyMovePoint;
    else if (command == CMD_DELETE || (command == CMD_DESPECKLE && s__globals.DespeckleMode != 5))
        function = &v_areaProcessPoint;
    if (operationMode() != AREA_FENCE)
        mdlState_startPrimitive(function, &v_operationReset, command, g_commands.promptId);
    else
        mdlState_startFenceCommand(&j_fenceElementContent, nullptr, function, &v_operationReset, command,
                                   g_commands.promptId, 1);
    StateCallback::SetCommandCleanupFunction(&v_operationCleanup);
}

void v_commandStatesInstall() {
    OperationStates states;
    states.operationStart = &v_operationStart;
    states.operationReset = &v_operationReset;
    states.fenceOperationStart = &v_fenceOperationStart;
    states.rasterPickStart = &v_rasterPickStart;
    v_operationStatesInstall(states);
}
