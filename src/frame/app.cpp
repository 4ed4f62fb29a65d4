// The add-on's entry: start-up in a fixed order, unload with the offer to save
// changed settings, design-file changes, and the tool box and pulldown menu.
#include "frame/app.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "cleanup/deskew.h"
#include "cleanup/library.h"
#include "edit/block.h"
#include "edit/blockops.h"
#include "edit/scratch.h"
#include "frame/commands.h"
#include "frame/dialogs.h"
#include "host/hostwrap.h"
#include "host/mdldialog.h"
#include "host/mdlsystem.h"
#include "host/tovlib.h"
#include "raster/clip.h"
#include "raster/commit.h"
#include "raster/context.h"
#include "raster/target.h"
#include "resources/ids.h"
#include "settings/settings.h"
#include "stamp/stamp.h"

namespace {

FrameState g_frame;

}  // namespace

const FrameState& frameState() { return g_frame; }

namespace {

constexpr const char* LOADED_FROM_STARTUP_LIST = "MS_DGNAPPS";

constexpr const char* DISPLAY_WARNING =
    "To properly operate PixelMend, please make sure your\n"
    "\"File | Settings | User | Preferences | Raster Manager | \n"
    "Use Independent Process for Display\" preference is OFF.";

// Copies text into a fixed buffer, cut to fit and always terminated.
void v_textCopy(char* buffer, std::size_t capacity, const std::string& text) {
    const std::size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

// The directory part of path with '/' separators: one separator between parts, a
// trailing separator, and a leading "//" (network prefix) kept.
std::string s_directoryOf(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "./";
    const std::string directory = path.substr(0, slash + 1);
    std::string result(1, directory[0]);
    for (std::size_t i = 1; i < directory.size(); ++i) {
        // A doubled separator is collapsed only when its first half is not the path's first character.
        if (directory[i] == '/' && result.size() >= 2 && result.back() == '/') continue;
        result.push_back(directory[i]);
    }
    return result;
}

// Sets the two host-version flags from the host's release and major numbers.
void v_hostVersionFlags() {
    VersionNumber version{};
    mdlVersion_getVersionNumbers(&version);
    const bool after8 = version.release > 8;
    const bool is8 = version.release == 8;
    s__globals.HostVersion89 = (after8 || (is8 && version.major >= 9)) ? 1 : 0;
    s__globals.HostVersion811 = (after8 || (is8 && version.major >= 11)) ? 1 : 0;
}

// First-run logic of an ordinary load: the display-preference warning.
void v_displayWarning() {
    if (s__globals.FirstRunUnderV10) s__globals.DontShowV8iWarning = 0;
    s__globals.FirstRunUnderV10 = 0;
    if (s__globals.HostVersion811 == 1 && s__globals.DontShowV8iWarning == 0)
        j_messageBox(rid::DIALOG_WARNING, DISPLAY_WARNING, ICON_WARNING);
}

// Asks what to do with changed settings until they are saved, dropped or the unload is
// cancelled; true to go on unloading.
bool b_unloadSettingsSaved(int unloadType) {
    if (!b_settingsChanged()) return true;
    if (s__globals.SaveWithoutAsking) {
        j_settingsWrite(false, false);
        return true;
    }
    for (;;) {
        char text[600];
        std::snprintf(text, sizeof text, "Your %s settings have changed.\nSettings file name: %s", "PixelMend",
                      g_settings.fileName);
        MSDialog* question = mdlDialog_create(nullptr, rid::DIALOG_SETTINGS_CHANGED);
        v_itemEnable(question, RTYPE_PushButton, rid::ITEM_SAVE_CANCEL, unloadType > 0);
        switch (j_messageBox(rid::DIALOG_SETTINGS_CHANGED, text, ICON_QUESTION)) {
        case ACTIONBUTTON_OK:
            if (j_settingsWrite(false, true) == 0) return true;
            break;
        case ACTIONBUTTON_SAVEAS:
            if (j_settingsWrite(true, true) == 0) return true;
            break;
        case ACTIONBUTTON_NO:
            return true;
        default:
            return false;
        }
    }
}

}  // namespace

extern "C" int MdlMain(int argc, WCharCP argv[]) {
    j_appInitialize(argc, argv);
    return 1;
}

void v_addonStateReset() {
    g_frame = FrameState{};
    g_settings = SettingsState{};
    v_commandsReset();
    v_dialogsReset();
    v_editContextReset();
    v_rasterTargetFreeAll();
    v_clipReset();
    v_commitReset();
    v_blockReset();
    v_blockOpsReset();
    v_stampReset();
    v_deskewStateReset();
    v_cleanupLibraryRelease();
    v_commandStatesInstall();
}

int j_appInitialize(int argc, WCharCP argv[]) {
    // Every load starts from fresh module state, also when the host reloads the add-on in-process.
    v_addonStateReset();

    WCharCP ownPath = (argc > 0 && argv) ? argv[0] : nullptr;
    WCharCP loadedBy = (argc > 1 && argv) ? argv[1] : nullptr;

    v_appDirectorySet(ownPath);
    RscFileHandle resources = nullptr;
    mdlResource_openFile(&resources, nullptr, 0);
    mdlParse_loadCommandTable(nullptr);
    v_dialogHooksPublish();
    mdlDialog_publishComplexVariable(mdlCExpression_initializeSet(4, 0, 0), "t_globals", "s__globals", &s__globals);
    v_settingDllIniFileName(g_settings.fileName, g_frame.settingsDatName, &g_frame.unusedFlag,
                            &g_frame.updateSettingsDat, "Pxmend", g_frame.appDirectory);
    v_settingsDefaults();
    if (j_settingsRead(false, false) != 0) j_settingsWrite(false, false);
    v_hostVersionFlags();
    SystemCallback::SetUnloadProgramFunction(&j_appUnload);
    SystemCallback::SetNewDesignFileFunction(&v_appNewDesignFile);
    mdlRaster_initialize();
    if (s_narrow(loadedBy) == LOADED_FROM_STARTUP_LIST) {
        g_frame.deferredMenus = 1;
    } else {
        v_menusSet(true);
        v_displayWarning();
    }
    mdlSystem_registerCommandNumbers(pCommandNumberTable());
    return 0;
}

void v_appDirectorySet(WCharCP path) {
    v_textCopy(g_frame.appDirectory, sizeof g_frame.appDirectory, s_directoryOf(s_narrow(path)));
}

int j_appUnload(int unloadType) {
    if (!b_unloadSettingsSaved(unloadType)) {
        v_menusSet(true);
        return 1;
    }
    if (g_frame.updateSettingsDat) b_settingDllUpdateSettingsDatFile(g_settings.fileName, g_frame.settingsDatName);
    v_rasterTargetFreeAll();
    mdlRaster_terminate();
    v_menusSet(false);
    v_backupListFree();
    v_addonStateReset();
    return 0;
}

void v_appNewDesignFile(WCharCP /*fileName*/, std::uint32_t reason) {
    if (reason == SYSTEM_NEWFILE_CLOSE) {
        v_scratchDetach(true);
        v_rasterTargetFreeAll();
    } else if (reason == SYSTEM_NEWFILE_COMPLETE && g_frame.deferredMenus == 1) {
        v_menusSet(true);
        g_frame.deferredMenus = 0;
    }
}

void v_menusSet(bool install) {
    MSDialog* toolBox = mdlDialog_find(rid::DIALOG_TOOLBOX, mdlSystem_getCurrTaskID());
    RawItemHdr* menuBar = mdlDialog_menuBarGetCmdWinP();
    if (!menuBar) return;
    TextPDM* menu = mdlDialog_menuBarFindMenu(menuBar, RTYPE_PulldownMenu, rid::MENU_PULLDOWN);
    if (install) {
        if (!toolBox) mdlDialog_open(nullptr, rid::DIALOG_TOOLBOX);
        v_commandsDisable();
    } else if (menu && mdlDialog_menuBarDeleteMenu(menu, menuBar, RTYPE_PulldownMenu, rid::MENU_PULLDOWN) != 0) {
        v_outputPrintf(MSG_ERROR, "Unable to remove pulldown menu");
    }
}

void v_appUnloadQueue() { mdlDialog_cmdNumberQueue(false, CMD_MDL_UNLOAD, mdlSystem_getCurrTaskID(), true); }
