// Ids of the add-on's resources that its code refers to: dialogs, items,
// hooks, menus, lists, icons and the command numbers its key-ins produce.
#pragma once

#include <cstdint>

#include "host/mdltypes.h"

namespace rid {

// Task id of the add-on (the host names the task after its resources).
constexpr const char* TASK_ID = "PXMEND";

// Dialogs.
constexpr int DIALOG_TOOLBOX = 2;
constexpr int DIALOG_WARNING = 10;   // one-button message box of the display warning
constexpr int DIALOG_EDIT_WAIT = 7;  // message box with one Continue button: the external editor is done
constexpr int ACTION_CONTINUE = 1;   // the action of its button
constexpr int DIALOG_SETTINGS_CHANGED = 144002;
constexpr int DIALOG_SETTINGS = 144001;
constexpr int DIALOG_DIRECTORY = 5700;  // the folder chooser (modal)

// The settings dialog: its page list (string list; member field 1 the page's item list), its menu bar
// item, menu and the menu item marked by SaveWithoutAsking, its items and its pages.
constexpr int STRINGS_SETTINGS_PAGES = 144001;
constexpr int ITEM_SETTINGS_MENUBAR = 144001;  // 'mBar'
constexpr int MENU_SETTINGS = 144001;
constexpr int MENU_SETTINGS_AUTOSAVE = 144001;  // search value of the marked item
constexpr int ITEM_SETTINGS_PAGES = 144001;     // 'lBox'
constexpr int ITEM_WEIGHT_LIST = 144002;        // 'lBox'
constexpr int ITEM_STYLE_LIST = 144003;         // 'lBox'
constexpr int ITEM_WEIGHT_FIELD = 144004;       // 'dTxt'
constexpr int ITEM_STYLE_FIELD = 144005;        // 'dTxt'
constexpr int ITEM_SCRATCH_OPTION = 144002;     // 'oBtn'
constexpr int ITEM_SCRATCH_DIR = 144003;        // 'dTxt'
constexpr int ITEM_SCRATCH_BROWSE = 144001;     // 'pBtn'
constexpr int PAGE_INTERFACE = 144003;
constexpr int PAGE_DESKEW = 144004;
constexpr int PAGE_BACKUP = 144006;
constexpr int PAGE_FILE_NAMES = 144007;
constexpr int PAGE_SCRATCH = 144008;
constexpr int PAGE_LINE_WEIGHTS = 144010;
constexpr int PAGE_LINE_STYLES = 144011;
// The folder chooser's items.
constexpr int ITEM_DIRECTORY_TEXT = 1;  // 'dTxt'
constexpr int ITEM_DIRECTORY_LIST = 2;  // 'lBox'

// Tool settings dialogs of the commands.
constexpr int TOOLSETTINGS_COPYMOVE = 201;
constexpr int TOOLSETTINGS_DELETE = 203;
constexpr int TOOLSETTINGS_STAMP = 204;
constexpr int TOOLSETTINGS_CROP = 205;
constexpr int TOOLSETTINGS_DESKEW = 207;
constexpr int TOOLSETTINGS_DESPECKLE = 208;
constexpr int TOOLSETTINGS_BRUSH = 209;
constexpr int TOOLSETTINGS_RESIZE = 210;
constexpr int TOOLSETTINGS_EDIT = 211;
constexpr int TOOLSETTINGS_SCRATCH = 212;

// Pulldown menu of the host's command window.
constexpr int MENU_PULLDOWN = 111;

// Lists.
constexpr int MESSAGES_COMMAND_NAMES = 1;
constexpr int MESSAGES_PROMPTS = 2;
constexpr int STRINGS_COMMANDS = 100;

// Prompts of the tool states (message list MESSAGES_PROMPTS).
constexpr int PROMPT_KEEP = 0;  // a command that keeps the prompt shown before it
constexpr int PROMPT_FENCE_FIRST = 21;
constexpr int PROMPT_FENCE_SECOND = 22;
constexpr int PROMPT_BASE_POINT = 23;
constexpr int PROMPT_DESTINATION = 24;
constexpr int PROMPT_ACCEPT = 25;
constexpr int PROMPT_IDENTIFY_RASTER = 26;
constexpr int PROMPT_IDENTIFY_SCRATCH = 27;
constexpr int PROMPT_SKEW_FIRST = 28;
constexpr int PROMPT_SKEW_SECOND = 29;
constexpr int PROMPT_SCRATCH_FIRST = 30;
constexpr int PROMPT_SCRATCH_SECOND = 31;
constexpr int PROMPT_BLOCK_FIRST = 32;
constexpr int PROMPT_BLOCK_SECOND = 33;
constexpr int PROMPT_DESKEW_ACCEPT = 34;
constexpr int PROMPT_WORKING = 35;  // command names: field 0 tool box child, field 1 gate slot

// Icons, with the size used to centre them in their items.
constexpr int ICON_PLAIN = 29;
constexpr int ICON_UNLOCKED = 31;
constexpr int ICON_LOCKED = 32;
constexpr int ICON_LOCK_WIDTH = 16;
constexpr int ICON_LOCK_HEIGHT = 24;
constexpr int ICON_PLAIN_WIDTH = 24;
constexpr int ICON_PLAIN_HEIGHT = 24;

// Items the code looks up by type and id.
constexpr int ITEM_COLOR_PICKER = 1;        // 'cPck'
constexpr int ITEM_COLOR_SWATCH = 3;        // 'gnrc'
constexpr int ITEM_COLOR_OPTION = 11;       // 'oBtn', canvas colour option
constexpr int ITEM_AREA_MODE = 1;           // 'oBtn'
constexpr int ITEM_HYBRID_MODE = 2;         // 'oBtn'
constexpr int ITEM_HYBRID_ELEMENTS = -102;  // 'oBtn'
constexpr int ITEM_MASK_METHOD = 12;        // 'oBtn'
constexpr int ITEM_SCALE_X = 1;             // 'dTxt'
constexpr int ITEM_SCALE_Y = 2;             // 'dTxt'
constexpr int ITEM_SCALE_LOCK = 2;          // 'gnrc'
constexpr int ITEM_PLAIN_ICON = 6;          // 'gnrc'
constexpr int ITEM_DESKEW_ANGLE = 9;        // 'dTxt'
constexpr int ITEM_DESKEW_APPLY = -3;       // 'pBtn'
constexpr int ITEM_RESIZE_APPLY = 1;        // 'pBtn'
constexpr int ITEM_TOGGLE_NEW_FILE = 2;     // 'tgBt'
constexpr int ITEM_TOGGLE_ENLARGE = 4;      // 'tgBt'
constexpr int ITEM_SAVE_CANCEL = -4;        // 'pBtn' of the settings-changed dialog

// Dialog hooks published at start-up.
enum Hook : long {
    HOOK_SCALE = 2,
    HOOK_COPY_OPTIONS = 3,
    HOOK_SCALE_LOCK = 4,
    HOOK_AREA_MODE = 5,
    HOOK_RESIZE_FIELD = 6,
    HOOK_PLAIN_ICON = 7,
    HOOK_HELP_GENERIC = 9,
    HOOK_DESKEW_ANGLE = 10,
    HOOK_MASK_METHOD = 11,
    HOOK_TOOLBOX = 12,
    HOOK_RESIZE = 13,
    HOOK_COLOR_SWATCH = 14,
    HOOK_RESIZE_TOGGLES = 16,
    HOOK_DESKEW_SETTINGS = 17,
    HOOK_HELP_TOOLSETTINGS = 18,
    HOOK_COLOR_OPTION = 19,
};

// Hooks of the settings dialog (published when it opens) and of the folder chooser.
enum SettingsHook : long {
    HOOK_SETTINGS_DIALOG = 144001,
    HOOK_SETTINGS_PAGES = 144002,
    HOOK_WEIGHT_LIST = 144003,
    HOOK_STYLE_LIST = 144004,
    HOOK_SCRATCH_OPTION = 144005,
    HOOK_SCRATCH_BROWSE = 144006,
    HOOK_WEIGHT_FIELD = 144007,
    HOOK_STYLE_FIELD = 144008,
    HOOK_DIRECTORY_DIALOG = 5700,
    HOOK_DIRECTORY_LIST = 5701,
};

// Command numbers: one byte per key-in word from the top byte down.
constexpr CommandNumber CMD_COPY = 0x0101000000000000ULL;
constexpr CommandNumber CMD_MOVE = 0x0102000000000000ULL;
constexpr CommandNumber CMD_DELETE = 0x0103000000000000ULL;
constexpr CommandNumber CMD_STAMP = 0x0104000000000000ULL;
constexpr CommandNumber CMD_CROP = 0x0105000000000000ULL;
constexpr CommandNumber CMD_DESKEW = 0x0107000000000000ULL;
constexpr CommandNumber CMD_DESPECKLE = 0x0108000000000000ULL;
constexpr CommandNumber CMD_BRUSH = 0x0109000000000000ULL;
constexpr CommandNumber CMD_RESIZE = 0x010A000000000000ULL;
constexpr CommandNumber CMD_RESIZE_APPLY = 0x010A010000000000ULL;
constexpr CommandNumber CMD_RESIZE_CANCEL = 0x010A020000000000ULL;
constexpr CommandNumber CMD_EDIT = 0x010B000000000000ULL;
constexpr CommandNumber CMD_SCRATCH_ATTACH = 0x010C010000000000ULL;
constexpr CommandNumber CMD_SCRATCH_DETACH = 0x010C020000000000ULL;
constexpr CommandNumber CMD_RASTER_TOOLS = 0x010D000000000000ULL;
constexpr CommandNumber CMD_TOOLBOX = 0x010E000000000000ULL;
constexpr CommandNumber CMD_UNLOAD = 0x010F000000000000ULL;
constexpr CommandNumber CMD_SETTINGS_OPEN = 0x0110010000000000ULL;
constexpr CommandNumber CMD_SETTINGS_SAVE = 0x0110020000000000ULL;
constexpr CommandNumber CMD_SETTINGS_SAVEAS = 0x0110030000000000ULL;
constexpr CommandNumber CMD_SETTINGS_AUTOSAVE = 0x0110040000000000ULL;
constexpr CommandNumber CMD_SETTINGS_DEFAULTS = 0x0110050000000000ULL;
constexpr CommandNumber CMD_SETTINGS_DIALOG = 0x0110060000000000ULL;
constexpr CommandNumber CMD_ABOUT = 0x0111010000000000ULL;
constexpr CommandNumber CMD_HELP = 0x0111030000000000ULL;
constexpr CommandNumber CMD_GATE = 0x0113000000000000ULL;

}  // namespace rid
