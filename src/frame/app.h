// The add-on's entry, start-up, unload and design-file handling, and its
// tool box and pulldown menu.
#pragma once

#include <cstdint>

#include "host/mdltypes.h"

// Module state of the application frame. The settings file path itself lives with
// the settings (g_settings.fileName).
struct FrameState {
    char appDirectory[256];     // the add-on's own directory, ending in '/'
    char settingsDatName[320];  // handed back to the support library at unload
    int unusedFlag;             // filled by the support library, never read
    int updateSettingsDat;      // 1: record the settings file with the support library at unload
    int deferredMenus;          // 1: loaded from MS_DGNAPPS, tool box waits for the first design file
};

// The frame's state (read-only: start-up and unload change it).
const FrameState& frameState();

extern "C" {
// Entry called once by the host at load: argv[0] the add-on's path, argv[1] how it was loaded; nonzero.
int MdlMain(int argc, WCharCP argv[]);
}

// Puts every module of the add-on back to its state before the first load (records, selection, saved
// clip masks, area, command, dialog handles, settings state) and installs the operation states'
// entry points; used at load, at unload and by tests.
void v_addonStateReset();
// Runs the start-up sequence with MdlMain's arguments (missing ones count as empty); 0.
int j_appInitialize(int argc, WCharCP argv[]);
// Sets appDirectory from the add-on's file path: its directory with one '/' between parts and a
// trailing '/', a leading "//" network prefix kept; "./" for a bare file name.
void v_appDirectorySet(WCharCP path);
// Unload callback: offers to save changed settings; 0 to go on unloading, 1 to refuse (only unloadType > 0).
int j_appUnload(int unloadType);
// New-design-file callback: reason 0 closing, 1 opened completely; other reasons ignored.
void v_appNewDesignFile(WCharCP fileName, std::uint32_t reason);
// Installs (tool box, PXMEND_DISABLE) or removes (pulldown menu) the add-on's presence.
void v_menusSet(bool install);
// Queues the unload of the add-on itself through the host's command queue.
void v_appUnloadQueue();
