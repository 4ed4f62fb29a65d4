// Dialog manager of the host: dialogs, items, hooks, string lists,
// menus, tool box, completion bar and message boxes.
#pragma once

#include "host/mdltypes.h"

// Resource and item types (four-character codes, as the resources name them).
constexpr std::uint32_t RTYPE_DialogBox = 'dBox';
constexpr std::uint32_t RTYPE_ToolBox = 'tBox';
constexpr std::uint32_t RTYPE_Text = 'dTxt';
constexpr std::uint32_t RTYPE_Scale = 'scal';
constexpr std::uint32_t RTYPE_OptionButton = 'oBtn';
constexpr std::uint32_t RTYPE_PushButton = 'pBtn';
constexpr std::uint32_t RTYPE_ToggleButton = 'tgBt';
constexpr std::uint32_t RTYPE_ColorPicker = 'cPck';
constexpr std::uint32_t RTYPE_Generic = 'gnrc';
constexpr std::uint32_t RTYPE_ListBox = 'lBox';
constexpr std::uint32_t RTYPE_Label = 'labl';
constexpr std::uint32_t RTYPE_IconCmd = 'icmd';
constexpr std::uint32_t RTYPE_MenuBar = 'mBar';
constexpr std::uint32_t RTYPE_PulldownMenu = 'pdMn';
constexpr std::uint32_t RTYPE_Icon = 'Icon';
constexpr std::uint32_t RTYPE_DialogItemList = 'dilt';
constexpr std::uint32_t RTYPE_StringList = 'strL';

// Item messages sent to item hooks (DialogItemMessage::messageType).
constexpr int DITEM_MESSAGE_CREATE = 50;
constexpr int DITEM_MESSAGE_DESTROY = 51;
constexpr int DITEM_MESSAGE_DRAW = 52;
constexpr int DITEM_MESSAGE_BUTTON = 54;
constexpr int DITEM_MESSAGE_SYNCHRONIZE = 56;
constexpr int DITEM_MESSAGE_JUSTIFY = 59;     // a value was given (typed) to the item
constexpr int DITEM_MESSAGE_LISTSELECT = 60;  // a list box row was picked
constexpr int DITEM_MESSAGE_SETSTATE = 61;    // the item's new value was stored
constexpr int DITEM_MESSAGE_STATECHANGED = 71;
constexpr int DITEM_MESSAGE_ALLCREATED = 73;
constexpr int DITEM_MESSAGE_FOCUSIN = 121;

// Dialog messages sent to dialog hooks (DialogMessage::messageType).
constexpr int DIALOG_MESSAGE_CREATE = 0;
constexpr int DIALOG_MESSAGE_DESTROY = 2;
constexpr int DIALOG_MESSAGE_ACTIONBUTTON = 15;

// Button transitions of DITEM_MESSAGE_BUTTON.
constexpr int BUTTONTRANS_DOWN = 1;
constexpr int BUTTONTRANS_UP = 2;

// Actions of dialog buttons and answers of message boxes.
constexpr int ACTIONBUTTON_OK = 3;
constexpr int ACTIONBUTTON_CANCEL = 4;
constexpr int ACTIONBUTTON_YES = 6;
constexpr int ACTIONBUTTON_NO = 7;
constexpr int ACTIONBUTTON_HELP = 10;
constexpr int ACTIONBUTTON_SAVEAS = 11;

// DIALOG_MESSAGE_DESTROY value2: the user closed the window itself.
constexpr int DIALOG_CLOSE_BY_USER = 4;

// Flag word bit of DIALOG_MESSAGE_CREATE: send the dialog update messages.
constexpr int DIALOG_CREATE_WANTUPDATES = 8;

// Message box ids the host knows itself.
constexpr int MSGBOX_NOTICE = -97;
constexpr int MSGBOX_YESNO = -121;
constexpr int MSGBOX_YESNOCANCEL = -113;
constexpr int MSGBOX_CONFIRM = -13;

// One dialog item as the host shows it to hooks.
struct DialogItem {
    std::uint32_t type;
    int id;
    int itemIndex;
    long itemArg;  // the number the resource stores with the item
    BSIRect rect;  // position inside its window
    RawItemHdr* rawItemP;
};

struct DialogItemMessage {
    int messageType;
    MSDialog* db;
    DialogItem* dialogItemP;
    int itemIndex;
    bool msgUnderstood;  // the hook sets false for a message it does not handle
    int buttonTrans;     // DITEM_MESSAGE_BUTTON
    bool reallyChanged;  // DITEM_MESSAGE_STATECHANGED: the stored value differs
    bool hookHandles;    // DITEM_MESSAGE_CREATE/DESTROY
};

struct DialogMessage {
    int messageType;
    MSDialog* db;
    int dialogId;
    bool msgUnderstood;
    int flags;         // DIALOG_MESSAGE_CREATE: interest flags the hook may set
    int value1;        // DESTROY: closing action; ACTIONBUTTON: the button's action
    int value2;        // DESTROY: DIALOG_CLOSE_BY_USER when the user closed the window
    bool abortAction;  // ACTIONBUTTON: set to keep the dialog open
};

using PFDialogItemHook = void (*)(DialogItemMessage*);
using PFDialogHook = void (*)(DialogMessage*);

// One published hook: exactly one of the two functions is set.
struct DialogHookInfo {
    long hookId;
    PFDialogItemHook itemHook;
    PFDialogHook dialogHook;
};

struct ColorPaletteEntry {
    std::uint8_t red, green, blue;
};

extern "C" {

// Publishing. count entries of hooks; 0 on success.
int mdlDialog_hookPublish(int count, const DialogHookInfo* hooks);
SymbolSet* mdlCExpression_initializeSet(int visibility, int, int);
// Binds typeName (a type of the task's resources) to the record at address; 0 on success.
int mdlDialog_publishComplexVariable(SymbolSet* set, const char* typeName, const char* varName, void* address);

// Dialogs. Dialog ids refer to the calling task's resources; null rsc means the task's own.
MSDialog* mdlDialog_open(RscFileHandle rsc, int dialogId);
MSDialog* mdlDialog_create(RscFileHandle rsc, int dialogId);
MSDialog* mdlDialog_find(int dialogId, WCharCP taskId);
MSDialog* mdlDialog_getToolSettings();
int mdlDialog_closeCommandQueue(MSDialog* db);
int mdlDialog_getDialogId(MSDialog* db);
MSWindow* mdlDialog_getWindow(MSDialog* db);
int mdlWindow_titleSet(MSWindow* window, WCharCP title);
void mdlDialog_adjustPopDownHeight(MSDialog* db);

// Items. Null or nonzero results for a missing item, as noted.
DialogItem* mdlDialog_itemGetByTypeAndId(MSDialog* db, std::uint32_t type, int id, int startIndex);
DialogItem* mdlDialog_itemGetByIndex(MSDialog* db, int itemIndex);
int mdlDialog_itemSetEnabledState(MSDialog* db, int itemIndex, bool enabled, bool redraw);
int mdlDialog_itemShow(MSDialog* db, int itemIndex);
int mdlDialog_itemHide(MSDialog* db, int itemIndex, bool redraw);
int mdlDialog_itemsSynch(MSDialog* db);
int mdlDialog_itemSynch(MSDialog* db, int itemIndex);
int mdlDialog_itemDraw(MSDialog* db, int itemIndex);
// The item's current value and text; 0 on success.
int mdlDialog_itemGetValue(MSValueDescr* value, WCharP text, MSDialog* db, int itemIndex, int textSize);
int mdlDialog_itemSetValue(const MSValueDescr* value, WCharCP text, MSDialog* db, int itemIndex);
// Stores the item's shown value through its binding and tells its hook; 0 on success, ERROR for an item with neither.
int mdlDialog_itemSetState(MSDialog* db, int itemIndex);
int mdlDialog_colorPickerSetColorTable(DialogItem* item, const ColorPaletteEntry* table, int count);

// Drawing inside an item's window (recorded by the host).
int mdlWindow_lineDraw(MSWindow* window, const Point2d* points, int count, int fixedColor, int lineStyle);
int mdlWindow_iconDraw(MSWindow* window, const BSIRect* rect, int iconId);
int mdlWindow_rectFillByRGB(MSWindow* window, const BSIRect* rect, const RGBColorDef* color);
int mdlDialog_rectDrawBeveled(MSWindow* window, const BSIRect* rect, bool raised, bool thick);

// Menus and the tool box.
RawItemHdr* mdlDialog_menuBarGetCmdWinP();
TextPDM* mdlDialog_menuBarFindMenu(RawItemHdr* menuBar, std::uint32_t menuType, int menuId);
int mdlDialog_menuBarDeleteMenu(TextPDM* menu, RawItemHdr* menuBar, std::uint32_t menuType, int menuId);
TextPDMItem* mdlDialog_menuBarFindItem(RawItemHdr* menuBar, std::uint32_t menuType, int menuId, long searchValue);
int mdlDialog_textPDMItemSetEnabled(TextPDMItem* item, bool enabled);
int mdlDialog_textPDMItemSetMark(TextPDMItem* item, int mark);
int mdlDialog_toolBoxChildSetEnabledByIndex(MSDialog* toolBox, int childIndex, bool enabled, bool redraw);

// Message boxes: returns the action of the button that closed the box.
int mdlDialog_openMessageBox(int dialogId, WCharCP text, int icon);

// Completion bar.
CompletionBar* mdlDialog_completionBarOpen(WCharCP title);
void mdlDialog_completionBarUpdate(CompletionBar* bar, WCharCP text, int percent);
void mdlDialog_completionBarClose(CompletionBar* bar);

// File dialogs: 0 when a file was chosen (written to fileName, MAXFILELENGTH).
int mdlDialog_fileOpen(WCharP fileName, RscFileHandle rsc, int rscId, WCharCP suggested, WCharCP filter,
                       WCharCP defaultDir, WCharCP title);
int mdlDialog_fileCreate(WCharP fileName, RscFileHandle rsc, int rscId, WCharCP suggested, WCharCP filter,
                         WCharCP defaultDir, WCharCP title);

// List boxes: the string list a list box shows (columns per row; the list stays the caller's), the
// selected row (*found false when none), the rows shown, and the redraw of one cell; 0 on success.
int mdlDialog_listBoxSetStrListP(DialogItem* item, StringList* list, int columns);
StringList* mdlDialog_listBoxGetStrListP(DialogItem* item);
int mdlDialog_listBoxGetNextSelection(bool* found, int* row, int* column, DialogItem* item);
int mdlDialog_listBoxGetDisplayRange(int* topRow, int* bottomRow, int* leftColumn, int* rightColumn, DialogItem* item);
int mdlDialog_listBoxDrawContents(DialogItem* item, int row, int column);

// Item lists: appends the items of a loaded item-list resource (fromIndex -1) to db with their create
// messages; frees the items firstIndex to lastIndex (-1: the last one) with their destroy messages.
int mdlDialog_itemsLoad(MSDialog* db, void* itemList, int fromIndex);
int mdlDialog_itemsFree(MSDialog* db, int firstIndex, int lastIndex);
// Index of the item that has the keyboard focus in db; -1 for none.
int mdlDialog_itemGetFocusIndex(MSDialog* db);
// Opens dialogId of the task's resources as a modal dialog and returns when it is closed; the closing
// action in *lastAction; 0 on success.
int mdlDialog_openModal(int* lastAction, RscFileHandle rsc, int dialogId);

// String lists.
StringList* mdlStringList_create(long nStrings, int infoFields);
StringList* mdlStringList_loadResource(RscFileHandle rsc, int id);
void mdlStringList_destroy(StringList* list);
long mdlStringList_size(StringList* list);
// Member text and information fields; 0 on success.
int mdlStringList_getMember(WCharCP* text, InfoField** info, StringList* list, long index);
int mdlStringList_setMember(StringList* list, long index, WCharCP text, const InfoField* info);
long mdlStringList_insertMember(StringList* list, long index, WCharCP text);
int mdlStringList_deleteAll(StringList* list);

}  // extern "C"
