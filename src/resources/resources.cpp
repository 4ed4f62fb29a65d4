// The add-on's resources: key-in command table, command names and prompts,
// the command string list, the tool box, the pulldown menu, the message and
// settings dialogs, the tool settings of every command, icons, and the layout
// of the settings record that dialog items bind to.
#include <cstddef>

#include "host/mdldialog.h"
#include "host/mdlresource.h"
#include "resources/ids.h"
#include "resources/resources.h"
#include "settings/settings.h"

namespace {

using rsc::CommandEntry;
using rsc::Item;
using rsc::OptionChoice;

// ---- Command table: PXMEND <word> [<word>] ---------------------------------

const CommandEntry resizeWords[] = {
    {1, "APPLY", {}, 0},
    {2, "CANCEL", {}, 0},
};

const CommandEntry scratchWords[] = {
    {1, "ATTACH", {}, rid::TOOLSETTINGS_SCRATCH},
    {2, "DETACH", {}, 0},
};

const CommandEntry settingsWords[] = {
    {1, "OPEN", {}, 0},     {2, "SAVE", {}, 0},     {3, "SAVEAS", {}, 0},
    {4, "AUTOSAVE", {}, 0}, {5, "DEFAULTS", {}, 0}, {6, "DIALOG", {}, 0},
};

const CommandEntry helpWords[] = {
    {1, "ABOUT", {}, 0},
    {3, "TOPIC", {}, 0},
};

const CommandEntry pxmendWords[] = {
    {1, "COPY", {}, rid::TOOLSETTINGS_COPYMOVE},
    {2, "MOVE", {}, rid::TOOLSETTINGS_COPYMOVE},
    {3, "DELETE", {}, rid::TOOLSETTINGS_DELETE},
    {4, "STAMP", {}, rid::TOOLSETTINGS_STAMP},
    {5, "CROP", {}, rid::TOOLSETTINGS_CROP},
    {7, "DESKEW", {}, rid::TOOLSETTINGS_DESKEW},
    {8, "DESPECKLE", {}, rid::TOOLSETTINGS_DESPECKLE},
    {9, "BRUSH", {}, rid::TOOLSETTINGS_BRUSH},
    {10, "RESIZE", resizeWords, rid::TOOLSETTINGS_RESIZE},
    {11, "EDIT", {}, rid::TOOLSETTINGS_EDIT},
    {12, "SCRATCH", scratchWords, 0},
    {13, "RASTERTOOLS", {}, 0},
    {14, "TOOLBOX", {}, 0},
    {15, "UNLOAD", {}, 0},
    {16, "SETTINGS", settingsWords, 0},
    {17, "HELP", helpWords, 0},
    {19, "GATE", {}, 0},
};

const CommandEntry commandTable[] = {
    {1, "PXMEND", pxmendWords, 0},
};

// ---- Messages ---------------------------------------------------------------

const rsc::Message commandNames[] = {
    {1, "Copy Raster Block"},    {2, "Move Raster Block"},    {3, "Delete Raster Block"},
    {4, "Crop Raster"},          {5, "Stamp Elements"},       {6, "Deskew Raster"},
    {7, "Despeckle Raster"},     {8, "Raster Brush"},         {9, "Resize Raster Canvas"},
    {11, "Attach Scratch Area"}, {12, "Detach Scratch Area"}, {15, "Edit Raster Externally"},
};

const rsc::Message prompts[] = {
    {rid::PROMPT_FENCE_FIRST, "Enter first fence corner"},
    {rid::PROMPT_FENCE_SECOND, "Enter opposite fence corner"},
    {rid::PROMPT_BASE_POINT, "Enter base point"},
    {rid::PROMPT_DESTINATION, "Enter destination point"},
    {rid::PROMPT_ACCEPT, "Accept/Reject"},
    {rid::PROMPT_IDENTIFY_RASTER, "Identify raster"},
    {rid::PROMPT_IDENTIFY_SCRATCH, "Identify raster for scratch area"},
    {rid::PROMPT_SKEW_FIRST, "Enter first point of skew line"},
    {rid::PROMPT_SKEW_SECOND, "Enter second point of skew line"},
    {rid::PROMPT_SCRATCH_FIRST, "Enter first corner of scratch area"},
    {rid::PROMPT_SCRATCH_SECOND, "Enter opposite corner of scratch area"},
    {rid::PROMPT_BLOCK_FIRST, "Enter first block corner"},
    {rid::PROMPT_BLOCK_SECOND, "Enter opposite block corner"},
    {rid::PROMPT_DESKEW_ACCEPT, "Accept to deskew, Reset to restart"},
    {rid::PROMPT_WORKING, "Working..."},
};

const rsc::MessageList messageLists[] = {
    {rid::MESSAGES_COMMAND_NAMES, commandNames},
    {rid::MESSAGES_PROMPTS, prompts},
};

// ---- String list 100: command name, tool box child index, gate slot ----------

const rsc::StringListMember commandMembers[] = {
    {"copy", {0, 1, 0, 0}},
    {"move", {1, 2, 0, 0}},
    {"delete", {2, 3, 0, 0}},
    {"crop", {3, 4, 0, 0}},
    {"stamp", {4, 5, 0, 0}},
    {"deskew", {5, 6, 0, 0}},
    {"despeckle", {6, 7, 0, 0}},
    {"brush", {7, 8, 0, 0}},
    {"resize", {8, 9, 0, 0}},
    {"edit", {9, 15, 0, 0}},
    // "scratch" switches off both scratch commands: attach and detach.
    {"scratch", {10, 11, 0, 0}},
    {"scratch", {11, 12, 0, 0}},
};

// ---- String list 144001: the settings dialog's pages, field 1 the page's item list ----

const rsc::StringListMember settingsPages[] = {
    {"Interface", {0, rid::PAGE_INTERFACE, 0, 0}},
    {"Deskew and Canvas", {0, rid::PAGE_DESKEW, 0, 0}},
    {"Backup", {0, rid::PAGE_BACKUP, 0, 0}},
    {"File Names", {0, rid::PAGE_FILE_NAMES, 0, 0}},
    {"Scratch", {0, rid::PAGE_SCRATCH, 0, 0}},
    {"Stamp Line Weights", {0, rid::PAGE_LINE_WEIGHTS, 0, 0}},
    {"Stamp Line Styles", {0, rid::PAGE_LINE_STYLES, 0, 0}},
};

const rsc::StringList stringLists[] = {
    {rid::STRINGS_COMMANDS, 2, commandMembers},
    {rid::STRINGS_SETTINGS_PAGES, 2, settingsPages},
};

// ---- Item makers ------------------------------------------------------------

constexpr Item makeItem(std::uint32_t type, int id, const char* label, const char* access, long hook) {
    return Item{type, id, label, access, hook, 0, true, true, {}, 0, 0, 0};
}

constexpr Item textField(int id, const char* label, const char* access, long hook = 0, long itemArg = 0) {
    Item item = makeItem(RTYPE_Text, id, label, access, hook);
    item.itemArg = itemArg;
    return item;
}

// A slider with a number field; the application sets its upper limit at run time.
constexpr Item scale(int id, const char* label, const char* access) {
    return makeItem(RTYPE_Scale, id, label, access, 0);
}

constexpr Item optionButton(int id, const char* label, const char* access, long hook,
                            std::span<const OptionChoice> choices) {
    Item item = makeItem(RTYPE_OptionButton, id, label, access, hook);
    item.choices = choices;
    return item;
}

constexpr Item toggle(int id, const char* label, const char* access, long hook = 0) {
    return makeItem(RTYPE_ToggleButton, id, label, access, hook);
}

constexpr Item pushButton(int id, const char* label, int action, CommandNumber command = 0, long hook = 0) {
    Item item = makeItem(RTYPE_PushButton, id, label, "", hook);
    item.action = action;
    item.command = command;
    return item;
}

// A text field that only shows its bound value.
constexpr Item displayField(int id, const char* label, const char* access) {
    Item item = textField(id, label, access);
    item.enabled = false;
    return item;
}

constexpr Item generic(int id, const char* label, long hook) { return makeItem(RTYPE_Generic, id, label, "", hook); }

constexpr Item iconCommand(int childIndex, const char* label, CommandNumber command, int iconId) {
    Item item = makeItem(RTYPE_IconCmd, childIndex, label, "", 0);
    item.command = command;
    item.iconId = iconId;
    return item;
}

// ---- Tool box and the two small dialogs ----------------------------------------

const Item toolBoxItems[] = {
    iconCommand(0, "Copy", rid::CMD_COPY, 101),
    iconCommand(1, "Move", rid::CMD_MOVE, 102),
    iconCommand(2, "Delete", rid::CMD_DELETE, 103),
    iconCommand(3, "Crop", rid::CMD_CROP, 104),
    iconCommand(4, "Stamp", rid::CMD_STAMP, 105),
    iconCommand(5, "Deskew", rid::CMD_DESKEW, 106),
    iconCommand(6, "Despeckle", rid::CMD_DESPECKLE, 107),
    iconCommand(7, "Brush", rid::CMD_BRUSH, 108),
    iconCommand(8, "Resize Canvas", rid::CMD_RESIZE, 109),
    iconCommand(9, "Edit Externally", rid::CMD_EDIT, 110),
    iconCommand(10, "Attach Scratch Area", rid::CMD_SCRATCH_ATTACH, 111),
    iconCommand(11, "Detach Scratch Area", rid::CMD_SCRATCH_DETACH, 112),
};

const Item warningItems[] = {
    pushButton(1, "OK", ACTIONBUTTON_OK),
};

// The wait for an external editor: its one button is not OK, so the box is a question, not a notice.
const Item editWaitItems[] = {
    pushButton(1, "Continue", rid::ACTION_CONTINUE),
};

const Item settingsChangedItems[] = {
    pushButton(1, "Save", ACTIONBUTTON_OK),
    pushButton(2, "Save As...", ACTIONBUTTON_SAVEAS),
    pushButton(3, "Don't Save", ACTIONBUTTON_NO),
    pushButton(rid::ITEM_SAVE_CANCEL, "Cancel", ACTIONBUTTON_CANCEL),
};

// ---- Tool settings ------------------------------------------------------------

const OptionChoice modifyModes[] = {{"Fence", 0}, {"Block", 1}, {"Raster", 2}};
const OptionChoice stampModes[] = {{"Fence", 0}, {"Block", 1}, {"Selection", 3}, {"Overlapping", 5}};
const OptionChoice despeckleModes[] = {{"Fence", 0}, {"Block", 1}, {"Raster", 5}};
const OptionChoice hybridModes[] = {{"Pixels Only", 0}, {"Pixels and Elements", 1}};
const OptionChoice hybridElements[] = {{"With Pixels", 0}};
const OptionChoice maskMethods[] = {{"Clip Mask", 0}, {"Fill", 1}};
const OptionChoice clipMethods[] = {{"Clip Boundary", 0}, {"Crop File", 1}};
const OptionChoice canvasChoices[] = {{"Custom", 0}, {"Automatic", 1}};
const OptionChoice deskewModes[] = {{"Detect Automatically", 0}, {"Define by 2 Points", 1}, {"Enter Manually", 2}};
const OptionChoice deskewCorners[] = {{"Lower Left", 0}, {"Lower Right", 1}, {"Upper Left", 2}, {"Upper Right", 3}};
const OptionChoice shellActions[] = {{"Edit", 0}, {"Open With...", 1}};

// The canvas colour group shared by every command that fills new pixels.
#define CANVAS_COLOUR_ITEMS                                                                               \
    optionButton(rid::ITEM_COLOR_OPTION, "Canvas Color", "s__globals.CanvasAuto", rid::HOOK_COLOR_OPTION, \
                 canvasChoices),                                                                          \
        makeItem(RTYPE_ColorPicker, rid::ITEM_COLOR_PICKER, "Color", "s__globals.CanvasColorIndex", 0),   \
        generic(rid::ITEM_COLOR_SWATCH, "Color", rid::HOOK_COLOR_SWATCH)

#define HELP_BUTTON pushButton(99, "Help", 0, 0, rid::HOOK_HELP_TOOLSETTINGS)

const Item copyMoveItems[] = {
    optionButton(rid::ITEM_AREA_MODE, "Mode", "s__globals.ModifyMode", rid::HOOK_AREA_MODE, modifyModes),
    optionButton(rid::ITEM_HYBRID_MODE, "Copy", "s__globals.HybridMode", rid::HOOK_COPY_OPTIONS, hybridModes),
    optionButton(rid::ITEM_HYBRID_ELEMENTS, "Elements", "", rid::HOOK_COPY_OPTIONS, hybridElements),
    textField(rid::ITEM_SCALE_X, "Scale X", "s__globals.ScaleX", rid::HOOK_SCALE),
    textField(rid::ITEM_SCALE_Y, "Scale Y", "s__globals.ScaleY", rid::HOOK_SCALE),
    generic(rid::ITEM_SCALE_LOCK, "Lock", rid::HOOK_SCALE_LOCK),
    textField(3, "Angle", "s__globals.CopyAngle"),
    toggle(rid::ITEM_TOGGLE_NEW_FILE, "Write to New File", "s__globals.CreateNewFile", rid::HOOK_RESIZE_TOGGLES),
    toggle(3, "Merge Pixels", "s__globals.MergePixels"),
    toggle(rid::ITEM_TOGGLE_ENLARGE, "Enlarge Destination", "s__globals.ResizeDestination", rid::HOOK_RESIZE_TOGGLES),
    CANVAS_COLOUR_ITEMS,
    HELP_BUTTON,
};

const Item deleteItems[] = {
    optionButton(rid::ITEM_AREA_MODE, "Mode", "s__globals.ModifyMode", rid::HOOK_AREA_MODE, modifyModes),
    optionButton(rid::ITEM_MASK_METHOD, "Method", "s__globals.MaskMethod", rid::HOOK_MASK_METHOD, maskMethods),
    optionButton(rid::ITEM_HYBRID_MODE, "Delete", "s__globals.HybridMode", rid::HOOK_COPY_OPTIONS, hybridModes),
    optionButton(rid::ITEM_HYBRID_ELEMENTS, "Elements", "", rid::HOOK_COPY_OPTIONS, hybridElements),
    CANVAS_COLOUR_ITEMS,
    HELP_BUTTON,
};

const Item cropItems[] = {
    optionButton(rid::ITEM_AREA_MODE, "Mode", "s__globals.ModifyMode", rid::HOOK_AREA_MODE, modifyModes),
    optionButton(13, "Method", "s__globals.ClipMethod", 0, clipMethods),
    toggle(5, "Keep Source File", "s__globals.CropCopy"),
    HELP_BUTTON,
};

const Item stampItems[] = {
    optionButton(rid::ITEM_AREA_MODE, "Elements", "s__globals.StampMode", rid::HOOK_AREA_MODE, stampModes),
    toggle(6, "Delete Stamped Elements", "s__globals.StampDelete"),
    toggle(7, "Confirm", "s__globals.DisplayPrompts"),
    HELP_BUTTON,
};

const Item deskewItems[] = {
    optionButton(14, "Angle", "s__globals.DeskewMode", rid::HOOK_DESKEW_SETTINGS, deskewModes),
    textField(rid::ITEM_DESKEW_ANGLE, "Degrees", "s__globals.DeskewAngle", rid::HOOK_DESKEW_ANGLE),
    pushButton(rid::ITEM_DESKEW_APPLY, "Use Angle", 0),
    optionButton(15, "Origin", "s__globals.DeskewCorner", 0, deskewCorners),
    CANVAS_COLOUR_ITEMS,
    HELP_BUTTON,
};

const Item despeckleItems[] = {
    optionButton(rid::ITEM_AREA_MODE, "Mode", "s__globals.DespeckleMode", rid::HOOK_AREA_MODE, despeckleModes),
    textField(5, "Speckle Width", "s__globals.DespeckleX"),
    textField(6, "Speckle Height", "s__globals.DespeckleY"),
    toggle(7, "Confirm", "s__globals.DisplayPrompts"),
    HELP_BUTTON,
};

const Item brushItems[] = {
    // The brush size comes first: the brush sets its upper limit through the window's first item.
    scale(7, "Brush Size", "s__globals.BrushSize"),
    generic(rid::ITEM_PLAIN_ICON, "Brush", rid::HOOK_PLAIN_ICON),
    CANVAS_COLOUR_ITEMS,
    HELP_BUTTON,
};

const Item resizeItems[] = {
    textField(11, "Top", "s__globals.ResizeRowsEnd", rid::HOOK_RESIZE_FIELD, 1),
    textField(12, "Bottom", "s__globals.ResizeRowsStart", rid::HOOK_RESIZE_FIELD, 2),
    textField(13, "Left", "s__globals.ResizeColumnsStart", rid::HOOK_RESIZE_FIELD, 3),
    textField(14, "Right", "s__globals.ResizeColumnsEnd", rid::HOOK_RESIZE_FIELD, 4),
    displayField(15, "Current Size", "s__globals.ResizeOldSizeText"),
    displayField(16, "New Size", "s__globals.ResizeNewSizeText"),
    toggle(8, "Keep Source File", "s__globals.ResizeCopy"),
    pushButton(rid::ITEM_RESIZE_APPLY, "Apply", 0, rid::CMD_RESIZE_APPLY, rid::HOOK_RESIZE),
    pushButton(2, "Cancel", 0, rid::CMD_RESIZE_CANCEL),
    CANVAS_COLOUR_ITEMS,
    HELP_BUTTON,
};

const Item editItems[] = {
    toggle(9, "Edit a Copy", "s__globals.EditCopy"),
    optionButton(16, "Open", "s__globals.ShellAction", 0, shellActions),
    HELP_BUTTON,
};

const Item scratchItems[] = {
    textField(17, "Width", "s__globals.ScratchWidth"),
    textField(18, "Height", "s__globals.ScratchHeight"),
    HELP_BUTTON,
};

#undef CANVAS_COLOUR_ITEMS
#undef HELP_BUTTON

// ---- Settings dialog: the frame, then one item list per page ------------------------

constexpr Item listBox(int id, const char* label, long hook) { return makeItem(RTYPE_ListBox, id, label, "", hook); }

const Item settingsItems[] = {
    makeItem(RTYPE_MenuBar, rid::ITEM_SETTINGS_MENUBAR, "File", "", 0),
    listBox(rid::ITEM_SETTINGS_PAGES, "Pages", rid::HOOK_SETTINGS_PAGES),
    pushButton(1, "OK", ACTIONBUTTON_OK),
    pushButton(2, "Cancel", ACTIONBUTTON_CANCEL),
    pushButton(3, "Help", ACTIONBUTTON_HELP),
};

const OptionChoice interfaceChoices[] = {{"Tool Box and Menu", 2}, {"Tool Box", 1}, {"Menu", 0}};
const OptionChoice scratchChoices[] = {{"Beside the Design", 0}, {"Temporary Folder", 1}, {"Folder Below", 2}};

const Item interfacePage[] = {
    optionButton(144010, "Interface", "s__globals.Interface", 0, interfaceChoices),
    textField(144011, "Outline Color", "s__globals.BorderColor"),
    toggle(144012, "Confirm Stamp and Despeckle", "s__globals.DisplayPrompts"),
    toggle(144013, "Don't Show Display Warning", "s__globals.DontShowV8iWarning"),
    toggle(144014, "First Start", "s__globals.FirstRunUnderV10"),
    optionButton(144015, "Area Mode", "s__globals.ModifyMode", 0, modifyModes),
    optionButton(144016, "Elements With Pixels", "s__globals.HybridMode", 0, hybridModes),
    optionButton(144017, "Delete Method", "s__globals.MaskMethod", 0, maskMethods),
    toggle(144018, "Merge Pixels", "s__globals.MergePixels"),
    optionButton(144019, "Stamp Elements", "s__globals.StampMode", 0, stampModes),
    toggle(144020, "Delete Stamped Elements", "s__globals.StampDelete"),
    optionButton(144021, "Despeckle Mode", "s__globals.DespeckleMode", 0, despeckleModes),
    textField(144022, "Speckle Width", "s__globals.DespeckleX"),
    textField(144023, "Speckle Height", "s__globals.DespeckleY"),
};

const Item deskewPage[] = {
    optionButton(144030, "Angle", "s__globals.DeskewMode", 0, deskewModes),
    optionButton(144031, "Origin", "s__globals.DeskewCorner", 0, deskewCorners),
    optionButton(144032, "Canvas Color", "s__globals.CanvasAuto", 0, canvasChoices),
    textField(144033, "Canvas Color Index", "s__globals.CanvasColorIndex"),
    textField(144034, "Canvas RGB", "s__globals.CanvasColor"),
};

const Item backupPage[] = {
    toggle(144040, "Back Up Before First Change", "s__globals.Backup"),
    toggle(144041, "Keep Source When Cropping", "s__globals.CropCopy"),
    toggle(144042, "Keep Source When Resizing", "s__globals.ResizeCopy"),
    toggle(144043, "Edit a Copy", "s__globals.EditCopy"),
};

const Item fileNamesPage[] = {
    toggle(144050, "Write to New File", "s__globals.CreateNewFile"),
    toggle(144051, "Enlarge Destination", "s__globals.ResizeDestination"),
    optionButton(144052, "Crop Method", "s__globals.ClipMethod", 0, clipMethods),
    optionButton(144053, "External Open", "s__globals.ShellAction", 0, shellActions),
};

const Item scratchPage[] = {
    optionButton(rid::ITEM_SCRATCH_OPTION, "Scratch Rasters", "s__globals.ScratchDirOption", rid::HOOK_SCRATCH_OPTION,
                 scratchChoices),
    textField(rid::ITEM_SCRATCH_DIR, "Folder", "s__globals.ScratchDir"),
    pushButton(rid::ITEM_SCRATCH_BROWSE, "Browse...", 0, 0, rid::HOOK_SCRATCH_BROWSE),
};

// The text field after each list edits the list's selected row.
const Item lineWeightsPage[] = {
    listBox(rid::ITEM_WEIGHT_LIST, "Line Weights", rid::HOOK_WEIGHT_LIST),
    textField(rid::ITEM_WEIGHT_FIELD, "Width in Pixels", "", rid::HOOK_WEIGHT_FIELD),
};

const Item lineStylesPage[] = {
    listBox(rid::ITEM_STYLE_LIST, "Line Styles", rid::HOOK_STYLE_LIST),
    textField(rid::ITEM_STYLE_FIELD, "Dash Pattern", "", rid::HOOK_STYLE_FIELD),
};

const rsc::ItemList itemLists[] = {
    {rid::PAGE_INTERFACE, interfacePage},    {rid::PAGE_DESKEW, deskewPage},
    {rid::PAGE_BACKUP, backupPage},          {rid::PAGE_FILE_NAMES, fileNamesPage},
    {rid::PAGE_SCRATCH, scratchPage},        {rid::PAGE_LINE_WEIGHTS, lineWeightsPage},
    {rid::PAGE_LINE_STYLES, lineStylesPage},
};

// ---- Folder chooser: the folder, the folders in it, OK and Cancel ----------------------

const Item directoryItems[] = {
    textField(rid::ITEM_DIRECTORY_TEXT, "Folder", ""),
    listBox(rid::ITEM_DIRECTORY_LIST, "Folders", rid::HOOK_DIRECTORY_LIST),
    pushButton(3, "OK", ACTIONBUTTON_OK),
    pushButton(4, "Cancel", ACTIONBUTTON_CANCEL),
};

const rsc::Dialog dialogs[] = {
    // Closing the tool box by hand unloads the add-on (hook 12).
    {rid::DIALOG_TOOLBOX, RTYPE_ToolBox, "PixelMend", rid::HOOK_TOOLBOX, toolBoxItems},
    {rid::DIALOG_WARNING, RTYPE_DialogBox, "PixelMend", 0, warningItems},
    {rid::DIALOG_EDIT_WAIT, RTYPE_DialogBox, "Edit Raster Externally", 0, editWaitItems},
    {rid::DIALOG_SETTINGS_CHANGED, RTYPE_DialogBox, "PixelMend Settings", 0, settingsChangedItems},
    {rid::TOOLSETTINGS_COPYMOVE, RTYPE_DialogBox, "Copy / Move Raster Block", 0, copyMoveItems},
    {rid::TOOLSETTINGS_DELETE, RTYPE_DialogBox, "Delete Raster Block", 0, deleteItems},
    {rid::TOOLSETTINGS_STAMP, RTYPE_DialogBox, "Stamp Elements", 0, stampItems},
    {rid::TOOLSETTINGS_CROP, RTYPE_DialogBox, "Crop Raster", 0, cropItems},
    {rid::TOOLSETTINGS_DESKEW, RTYPE_DialogBox, "Deskew Raster", 0, deskewItems},
    {rid::TOOLSETTINGS_DESPECKLE, RTYPE_DialogBox, "Despeckle Raster", 0, despeckleItems},
    {rid::TOOLSETTINGS_BRUSH, RTYPE_DialogBox, "Raster Brush", 0, brushItems},
    {rid::TOOLSETTINGS_RESIZE, RTYPE_DialogBox, "Resize Raster Canvas", 0, resizeItems},
    {rid::TOOLSETTINGS_EDIT, RTYPE_DialogBox, "Edit Raster Externally", 0, editItems},
    {rid::TOOLSETTINGS_SCRATCH, RTYPE_DialogBox, "Attach Scratch Area", 0, scratchItems},
    {rid::DIALOG_SETTINGS, RTYPE_DialogBox, "PixelMend Settings", rid::HOOK_SETTINGS_DIALOG, settingsItems},
    {rid::DIALOG_DIRECTORY, RTYPE_DialogBox, "Select Directory", rid::HOOK_DIRECTORY_DIALOG, directoryItems},
};

// ---- Pulldown menu: search values of editing commands are their gate slots ----

const rsc::MenuItem pulldownItems[] = {
    {"Copy", 1, rid::CMD_COPY, ""},
    {"Move", 2, rid::CMD_MOVE, ""},
    {"Delete", 3, rid::CMD_DELETE, ""},
    {"Crop", 4, rid::CMD_CROP, ""},
    {"Stamp", 5, rid::CMD_STAMP, ""},
    {"Deskew", 6, rid::CMD_DESKEW, ""},
    {"Despeckle", 7, rid::CMD_DESPECKLE, ""},
    {"Brush", 8, rid::CMD_BRUSH, ""},
    {"Resize Canvas", 9, rid::CMD_RESIZE, ""},
    {"Edit Externally", 15, rid::CMD_EDIT, ""},
    {"Attach Scratch Area", 11, rid::CMD_SCRATCH_ATTACH, ""},
    {"Detach Scratch Area", 12, rid::CMD_SCRATCH_DETACH, ""},
    {"Tool Box", 100, rid::CMD_TOOLBOX, ""},
    {"Raster Manager Tools", 101, rid::CMD_RASTER_TOOLS, ""},
    {"Settings...", 102, rid::CMD_SETTINGS_DIALOG, ""},
    {"About PixelMend", 103, rid::CMD_ABOUT, ""},
    {"Unload PixelMend", 104, rid::CMD_UNLOAD, ""},
};

// The settings dialog's own menu.
const rsc::MenuItem settingsMenuItems[] = {
    {"Open...", 1, rid::CMD_SETTINGS_OPEN, ""},
    {"Save", 2, rid::CMD_SETTINGS_SAVE, ""},
    {"Save As...", 3, rid::CMD_SETTINGS_SAVEAS, ""},
    {"Save Without Asking", rid::MENU_SETTINGS_AUTOSAVE, rid::CMD_SETTINGS_AUTOSAVE, ""},
    {"Factory Defaults", 5, rid::CMD_SETTINGS_DEFAULTS, ""},
};

const rsc::Menu menus[] = {
    {RTYPE_PulldownMenu, rid::MENU_PULLDOWN, "PixelMend", pulldownItems, 0},
    {RTYPE_PulldownMenu, rid::MENU_SETTINGS, "File", settingsMenuItems, rid::ITEM_SETTINGS_MENUBAR},
};

// ---- Icons --------------------------------------------------------------------

const rsc::Icon icons[] = {
    {rid::ICON_PLAIN, rid::ICON_PLAIN_WIDTH, rid::ICON_PLAIN_HEIGHT, "pixelmend"},
    {rid::ICON_UNLOCKED, rid::ICON_LOCK_WIDTH, rid::ICON_LOCK_HEIGHT, "scale-unlocked"},
    {rid::ICON_LOCKED, rid::ICON_LOCK_WIDTH, rid::ICON_LOCK_HEIGHT, "scale-locked"},
    {101, 24, 24, "copy"},
    {102, 24, 24, "move"},
    {103, 24, 24, "delete"},
    {104, 24, 24, "crop"},
    {105, 24, 24, "stamp"},
    {106, 24, 24, "deskew"},
    {107, 24, 24, "despeckle"},
    {108, 24, 24, "brush"},
    {109, 24, 24, "resize"},
    {110, 24, 24, "edit"},
    {111, 24, 24, "scratch-attach"},
    {112, 24, 24, "scratch-detach"},
};

// ---- The settings record as dialog items and `dump settings` see it ------------

#define FIELD(name, kind, count, size) \
    rsc::Field { #name, offsetof(t_globals, name), rsc::FieldKind::kind, count, size }
#define INT_FIELD(name) FIELD(name, Int32, 1, sizeof(int))
#define DOUBLE_FIELD(name) FIELD(name, Double, 1, sizeof(double))
#define TEXT_FIELD(name) FIELD(name, Text, 1, sizeof(t_globals::name))

const rsc::Field globalsFields[] = {
    INT_FIELD(Backup),
    INT_FIELD(SaveWithoutAsking),
    INT_FIELD(EditCopy),
    INT_FIELD(ResizeCopy),
    INT_FIELD(CropCopy),
    INT_FIELD(StampDelete),
    INT_FIELD(MergePixels),
    INT_FIELD(CreateNewFile),
    INT_FIELD(ResizeDestination),
    INT_FIELD(DontShowV8iWarning),
    INT_FIELD(FirstRunUnderV10),
    INT_FIELD(DisplayPrompts),
    INT_FIELD(CopyAngle),
    INT_FIELD(ShellAction),
    INT_FIELD(BorderColor),
    INT_FIELD(ScratchDirOption),
    TEXT_FIELD(ScratchDir),
    INT_FIELD(ModifyMode),
    INT_FIELD(HybridMode),
    INT_FIELD(StampMode),
    INT_FIELD(DespeckleMode),
    INT_FIELD(DeskewMode),
    INT_FIELD(MaskMethod),
    INT_FIELD(ClipMethod),
    INT_FIELD(ResizeRowsEnd),
    INT_FIELD(ResizeRowsStart),
    INT_FIELD(ResizeColumnsStart),
    INT_FIELD(ResizeColumnsEnd),
    FIELD(CanvasColor, Rgb, 1, sizeof(CanvasRgb)),
    INT_FIELD(CanvasColorIndex),
    TEXT_FIELD(ResizeOldSizeText),
    TEXT_FIELD(ResizeNewSizeText),
    DOUBLE_FIELD(ScaleX),
    DOUBLE_FIELD(ScaleY),
    INT_FIELD(ScratchWidth),
    INT_FIELD(ScratchHeight),
    INT_FIELD(DespeckleX),
    INT_FIELD(DespeckleY),
    DOUBLE_FIELD(DeskewAngle),
    DOUBLE_FIELD(DeskewAngleDetected),
    INT_FIELD(DeskewCorner),
    INT_FIELD(ScaleLock),
    FIELD(LineWeight, Int32, 32, sizeof(int)),
    FIELD(LineStyle, Text, 8, sizeof(t_globals::LineStyle[0])),
    INT_FIELD(WeightRow),
    INT_FIELD(StyleRow),
    INT_FIELD(Interface),
    DOUBLE_FIELD(BrushSize),
    INT_FIELD(CanvasAuto),
    INT_FIELD(OperationView),
    INT_FIELD(HostVersion89),
    INT_FIELD(HostVersion811),
    TEXT_FIELD(HelpTopic),
    TEXT_FIELD(PageName),
};

#undef TEXT_FIELD
#undef DOUBLE_FIELD
#undef INT_FIELD
#undef FIELD

const rsc::RecordType types[] = {
    {"t_globals", sizeof(t_globals), globalsFields},
};

const rsc::File resourceFile = {
    rid::TASK_ID,
    commandTable,
    rid::MESSAGES_COMMAND_NAMES,
    rid::MESSAGES_PROMPTS,
    messageLists,
    stringLists,
    dialogs,
    itemLists,
    menus,
    icons,
    types,
};

}  // namespace

extern "C" const rsc::File* MdlResources() { return &resourceFile; }

const char* pc_commandName(int command) {
    const rsc::File* resources = MdlResources();
    for (const rsc::MessageList& list : resources->messageLists) {
        if (list.id != resources->commandNameList) continue;
        for (const rsc::Message& message : list.messages)
            if (message.id == command) return message.text;
    }
    return "PixelMend";
}
