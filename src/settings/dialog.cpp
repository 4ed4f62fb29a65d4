// The settings dialog: its hooks, its pages, its two editable lists and the
// settings commands.
#include "settings/dialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "frame/app.h"
#include "host/hostwrap.h"
#include "host/messages.h"
#include "resources/ids.h"
#include "settings/settings.h"

namespace {

constexpr int NO_PAGE = -99;
constexpr int WEIGHT_ROWS = 32;
constexpr int STYLE_ROWS = 8;

// Module state of the settings dialog.
struct SettingsDialogState {
    int lastPageRow = NO_PAGE;         // the page list's row whose items are shown
    int baseItemCount = 0;             // items of the dialog itself; page items follow them
    StringList* weightRows = nullptr;  // rows of the line-weight list (row number, width)
    StringList* styleRows = nullptr;   // rows of the line-style list (row number, pattern)
};

SettingsDialogState g_settingsDialog;

void v_handled(DialogItemMessage* message, bool handled) { message->msgUnderstood = handled; }

// The destination of the manual for the page of item list id; null for a page without one.
const char* pc_pageName(long pageId) {
    switch (pageId) {
    case rid::PAGE_INTERFACE:
        return "settingsInterface";
    case rid::PAGE_DESKEW:
        return "settingsDeskew";
    case rid::PAGE_BACKUP:
        return "settingsBackup";
    case rid::PAGE_FILE_NAMES:
        return "settingsFileNames";
    case rid::PAGE_SCRATCH:
        return "settingsScratch";
    default:
        return nullptr;
    }
}

void v_pageNameSet(const char* name) { std::snprintf(s__globals.PageName, sizeof s__globals.PageName, "%s", name); }

// Sets the SaveWithoutAsking mark in the dialog's menu; nothing while the dialog is closed.
void v_menuMarkSet() {
    MSDialog* dialog = pv_settingsDialog();
    if (!dialog) return;
    DialogItem* bar = mdlDialog_itemGetByTypeAndId(dialog, RTYPE_MenuBar, rid::ITEM_SETTINGS_MENUBAR, 0);
    if (!bar) return;
    TextPDMItem* item =
        mdlDialog_menuBarFindItem(bar->rawItemP, RTYPE_PulldownMenu, rid::MENU_SETTINGS, rid::MENU_SETTINGS_AUTOSAVE);
    if (item) mdlDialog_textPDMItemSetMark(item, s__globals.SaveWithoutAsking > 0 ? 2 : 1);
}

// Menu mark, then the title "PixelMend Settings - FILE".
void v_retitle() {
    v_menuMarkSet();
    MSDialog* dialog = pv_settingsDialog();
    if (!dialog) return;
    char title[MAXFILELENGTH + 32];
    std::snprintf(title, sizeof title, "%s - %s", "PixelMend Settings", g_settings.fileName);
    mdlWindow_titleSet(mdlDialog_getWindow(dialog), w_widen(title).c_str());
}

// After a read, a save as or the factory values: title and every item shown anew.
void v_dialogRefresh() {
    MSDialog* dialog = pv_settingsDialog();
    if (!dialog) return;
    v_retitle();
    mdlDialog_itemsSynch(dialog);
}

// ---- The dialog ----

bool b_scratchDirUsable() {
    if (s__globals.ScratchDir[0] != '\0' && b_folderWritable(s__globals.ScratchDir)) return true;
    char text[MAXFILELENGTH + 96];
    std::snprintf(text, sizeof text,
                  "The scratch folder \"%s\" cannot be used. Please choose a folder you may write in.",
                  s__globals.ScratchDir);
    j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR);
    return false;
}

void v_settingsDialogHook(DialogMessage* message) {
    switch (message->messageType) {
    case DIALOG_MESSAGE_CREATE:
        s__globals.PageName[0] = '\0';
        g_settings.dialogCopy = s__globals;
        message->flags |= DIALOG_CREATE_WANTUPDATES;
        message->msgUnderstood = true;
        return;
    case DIALOG_MESSAGE_DESTROY:
        // OK keeps the values and applies the tool box and PXMEND_DISABLE again; every other close
        // puts back the values the dialog was opened with.
        if (message->value1 == ACTIONBUTTON_OK)
            v_menusSet(true);
        else
            s__globals = g_settings.dialogCopy;
        message->msgUnderstood = false;
        return;
    case DIALOG_MESSAGE_ACTIONBUTTON:
        if (message->value1 == ACTIONBUTTON_OK && s__globals.ScratchDirOption == 2 && !b_scratchDirUsable())
            message->abortAction = true;
        if (message->value1 == ACTIONBUTTON_HELP) {
            mdlInput_sendCommand(rid::CMD_HELP, w_widen(s__globals.PageName).c_str(), 0, mdlSystem_getCurrTaskID(),
                                 false);
            message->abortAction = true;  // help leaves the dialog open
        }
        message->msgUnderstood = true;
        return;
    default:
        message->msgUnderstood = false;
    }
}

// Number of items the dialog has now.
int n_itemCount(MSDialog* dialog) {
    int count = 0;
    while (mdlDialog_itemGetByIndex(dialog, count)) ++count;
    return count;
}

// Shows the page of row: the earlier page's items freed, the page's item list appended.
void v_pageShow(MSDialog* dialog, StringList* pages, int row) {
    g_settingsDialog.lastPageRow = row;
    mdlDialog_itemsFree(dialog, g_settingsDialog.baseItemCount, -1);
    WCharCP title = nullptr;
    InfoField* info = nullptr;
    if (mdlStringList_getMember(&title, &info, pages, row) != 0 || !info) return;
    const long pageId = info[1];
    void* items = mdlResource_load(nullptr, RTYPE_DialogItemList, static_cast<int>(pageId));
    if (!items) {
        char text[160];
        std::snprintf(text, sizeof text, "The settings page %ld cannot be shown: its items are missing.", pageId);
        j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR);
        return;
    }
    if (const char* name = pc_pageName(pageId)) v_pageNameSet(name);
    mdlDialog_itemsLoad(dialog, items, -1);
    mdlResource_free(items);
}

void v_pageListHook(DialogItemMessage* message) {
    DialogItem* item = message->dialogItemP;
    if (!item) {
        v_handled(message, false);
        return;
    }
    switch (message->messageType) {
    case DITEM_MESSAGE_CREATE:
        if (StringList* pages = mdlStringList_loadResource(nullptr, rid::STRINGS_SETTINGS_PAGES))
            mdlDialog_listBoxSetStrListP(item, pages, 1);
        break;
    case DITEM_MESSAGE_DESTROY:
        if (StringList* pages = mdlDialog_listBoxGetStrListP(item)) mdlStringList_destroy(pages);
        g_settingsDialog.lastPageRow = NO_PAGE;
        break;
    case DITEM_MESSAGE_ALLCREATED:
        g_settingsDialog.baseItemCount = n_itemCount(message->db);
        break;
    case DITEM_MESSAGE_LISTSELECT:
    case DITEM_MESSAGE_STATECHANGED: {
        bool found = false;
        int row = -1, column = 0;
        StringList* pages = mdlDialog_listBoxGetStrListP(item);
        if (pages && mdlDialog_listBoxGetNextSelection(&found, &row, &column, item) == 0 && found &&
            row != g_settingsDialog.lastPageRow)
            v_pageShow(message->db, pages, row);
        break;
    }
    default:
        v_handled(message, false);
        return;
    }
    v_handled(message, true);
}

// ---- The line-weight and line-style lists ----

// What one of the two lists edits.
struct EditedList {
    StringList* SettingsDialogState::*rows;
    int rowCount;
    int t_globals::*selected;
    const char* pageName;
};

constexpr EditedList WEIGHTS{&SettingsDialogState::weightRows, WEIGHT_ROWS, &t_globals::WeightRow,
                             "settingsStampLineWeights"};
constexpr EditedList STYLES{&SettingsDialogState::styleRows, STYLE_ROWS, &t_globals::StyleRow,
                            "settingsStampLineStyles"};

// The value text of row in list: the weight as "%d", or the style's pattern.
std::string s_rowValue(const EditedList& list, int row) {
    if (&list == &WEIGHTS) return std::to_string(s__globals.LineWeight[row]);
    return s__globals.LineStyle[row];
}

void v_listFill(const EditedList& list, DialogItemMessage* message) {
    StringList*& rows = g_settingsDialog.*list.rows;
    if (!rows) rows = mdlStringList_create(0, 1);
    if (!rows) return;
    mdlStringList_deleteAll(rows);
    for (int row = 0; row < list.rowCount; ++row) {
        mdlStringList_insertMember(rows, -1, w_widen(std::to_string(row).c_str()).c_str());
        mdlStringList_insertMember(rows, -1, w_widen(s_rowValue(list, row).c_str()).c_str());
    }
    mdlDialog_listBoxSetStrListP(message->dialogItemP, rows, 2);
    mdlDialog_itemDraw(message->db, message->itemIndex);
    s__globals.*list.selected = 0;
}

void v_editedListHook(const EditedList& list, DialogItemMessage* message) {
    switch (message->messageType) {
    case DITEM_MESSAGE_CREATE:
    case DITEM_MESSAGE_SYNCHRONIZE:
        if (message->dialogItemP) v_listFill(list, message);
        break;
    case DITEM_MESSAGE_DESTROY:
        if (StringList*& rows = g_settingsDialog.*list.rows) {
            mdlStringList_destroy(rows);
            rows = nullptr;
        }
        break;
    case DITEM_MESSAGE_STATECHANGED: {
        bool found = false;
        int row = -1, column = 0;
        if (message->dialogItemP &&
            mdlDialog_listBoxGetNextSelection(&found, &row, &column, message->dialogItemP) == 0 && found)
            s__globals.*list.selected = row;
        mdlDialog_itemSynch(message->db, message->itemIndex + 1);
        break;
    }
    case DITEM_MESSAGE_FOCUSIN:
        v_pageNameSet(list.pageName);
        break;
    default:
        v_handled(message, false);
        return;
    }
    v_handled(message, true);
}

void v_weightListHook(DialogItemMessage* message) { v_editedListHook(WEIGHTS, message); }
void v_styleListHook(DialogItemMessage* message) { v_editedListHook(STYLES, message); }

// The selected row of list, held to the list's rows.
int n_selectedRow(const EditedList& list) {
    const int row = s__globals.*list.selected;
    return row >= 0 && row < list.rowCount ? row : 0;
}

// Writes text into the value column of row and redraws that row.
void v_rowShow(MSDialog* dialog, int listId, const EditedList& list, int row, const std::string& text) {
    StringList* rows = g_settingsDialog.*list.rows;
    if (!rows) return;
    mdlStringList_setMember(rows, 2L * row + 1, w_widen(text.c_str()).c_str(), nullptr);
    DialogItem* listItem = mdlDialog_itemGetByTypeAndId(dialog, RTYPE_ListBox, listId, 0);
    int top = 0, bottom = -1, left = 0, right = 0;
    if (listItem && mdlDialog_listBoxGetDisplayRange(&top, &bottom, &left, &right, listItem) == 0 && row >= top &&
        row <= bottom)
        mdlDialog_listBoxDrawContents(listItem, row - top, 1);
}

std::string s_itemText(MSDialog* dialog, int index) {
    MSValueDescr value;
    WChar text[MAXFILELENGTH] = {};
    if (mdlDialog_itemGetValue(&value, text, dialog, index, MAXFILELENGTH) != 0) return "";
    return s_narrow(text);
}

void v_itemTextSet(MSDialog* dialog, int index, const std::string& text) {
    MSValueDescr value;
    value.kind = MSValueDescr::String;
    mdlDialog_itemSetValue(&value, w_widen(text.c_str()).c_str(), dialog, index);
}

// A whole number of 1-100 typed as a width; 0 for anything else.
int n_typedWeight(const std::string& text) {
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number < 1 || number > 100) return 0;
    return static_cast<int>(number);
}

// Hook 144007: the width of the selected line weight.
void v_weightFieldHook(DialogItemMessage* message) {
    const int row = n_selectedRow(WEIGHTS);
    switch (message->messageType) {
    case DITEM_MESSAGE_SYNCHRONIZE:
        v_itemTextSet(message->db, message->itemIndex, std::to_string(s__globals.LineWeight[row]));
        break;
    case DITEM_MESSAGE_JUSTIFY:
        v_rowShow(message->db, rid::ITEM_WEIGHT_LIST, WEIGHTS, row, s_itemText(message->db, message->itemIndex));
        break;
    case DITEM_MESSAGE_SETSTATE: {
        // Widths of 1-100 are stored; anything else leaves the stored width, which the row shows again.
        const int weight = n_typedWeight(s_itemText(message->db, message->itemIndex));
        if (weight > 0) s__globals.LineWeight[row] = weight;
        const std::string shown = std::to_string(s__globals.LineWeight[row]);
        v_rowShow(message->db, rid::ITEM_WEIGHT_LIST, WEIGHTS, row, shown);
        v_itemTextSet(message->db, message->itemIndex, shown);
        break;
    }
    default:
        v_handled(message, false);
        return;
    }
    v_handled(message, true);
}

// Hook 144008: the dash pattern of the selected line style.
void v_styleFieldHook(DialogItemMessage* message) {
    const int row = n_selectedRow(STYLES);
    switch (message->messageType) {
    case DITEM_MESSAGE_SYNCHRONIZE:
        v_itemTextSet(message->db, message->itemIndex, s__globals.LineStyle[row]);
        break;
    case DITEM_MESSAGE_JUSTIFY:
        v_rowShow(message->db, rid::ITEM_STYLE_LIST, STYLES, row, s_itemText(message->db, message->itemIndex));
        break;
    case DITEM_MESSAGE_SETSTATE:
        std::snprintf(s__globals.LineStyle[row], sizeof s__globals.LineStyle[row], "%s",
                      s_itemText(message->db, message->itemIndex).c_str());
        v_rowShow(message->db, rid::ITEM_STYLE_LIST, STYLES, row, s__globals.LineStyle[row]);
        break;
    default:
        v_handled(message, false);
        return;
    }
    v_handled(message, true);
}

// ---- Scratch folder ----

void v_scratchOptionHook(DialogItemMessage* message) {
    switch (message->messageType) {
    case DITEM_MESSAGE_SYNCHRONIZE:
    case DITEM_MESSAGE_STATECHANGED:
    case DITEM_MESSAGE_ALLCREATED: {
        const bool folder = s__globals.ScratchDirOption == 2;
        v_itemEnable(message->db, RTYPE_Text, rid::ITEM_SCRATCH_DIR, folder);
        v_itemEnable(message->db, RTYPE_PushButton, rid::ITEM_SCRATCH_BROWSE, folder);
        v_handled(message, true);
        return;
    }
    default:
        v_handled(message, false);
    }
}

void v_scratchBrowseHook(DialogItemMessage* message) {
    if (message->messageType != DITEM_MESSAGE_BUTTON) {
        v_handled(message, false);
        return;
    }
    if (message->buttonTrans == BUTTONTRANS_UP) {
        j_directoryChoose(s__globals.ScratchDir, "Select folder");
        const int index = n_itemIndex(message->db, RTYPE_Text, rid::ITEM_SCRATCH_DIR);
        if (index >= 0) mdlDialog_itemSynch(message->db, index);
    }
    v_handled(message, true);
}

}  // namespace

MSDialog* pv_settingsDialog() { return mdlDialog_find(rid::DIALOG_SETTINGS, mdlSystem_getCurrTaskID()); }

void v_settingsDialogOpen() {
    static const DialogHookInfo hooks[] = {
        {rid::HOOK_SETTINGS_DIALOG, nullptr, &v_settingsDialogHook},
        {rid::HOOK_SETTINGS_PAGES, &v_pageListHook, nullptr},
        {rid::HOOK_WEIGHT_LIST, &v_weightListHook, nullptr},
        {rid::HOOK_STYLE_LIST, &v_styleListHook, nullptr},
        {rid::HOOK_SCRATCH_OPTION, &v_scratchOptionHook, nullptr},
        {rid::HOOK_SCRATCH_BROWSE, &v_scratchBrowseHook, nullptr},
        {rid::HOOK_WEIGHT_FIELD, &v_weightFieldHook, nullptr},
        {rid::HOOK_STYLE_FIELD, &v_styleFieldHook, nullptr},
    };
    mdlDialog_hookPublish(static_cast<int>(std::size(hooks)), hooks);
    mdlDialog_open(nullptr, rid::DIALOG_SETTINGS);
    v_retitle();
}

void v_settingsOpenCommand() {
    if (j_settingsRead(true, true) == SUCCESS) v_dialogRefresh();
}

void v_settingsSaveCommand() {
    // A value still being typed is taken before the file is written.
    if (MSDialog* dialog = pv_settingsDialog()) {
        const int focus = mdlDialog_itemGetFocusIndex(dialog);
        DialogItem* item = focus >= 0 ? mdlDialog_itemGetByIndex(dialog, focus) : nullptr;
        if (item && item->type == RTYPE_Text) mdlDialog_itemSetState(dialog, focus);
    }
    if (j_settingsWrite(false, true) == SUCCESS) v_retitle();
}

void v_settingsSaveAsCommand() {
    if (j_settingsWrite(true, true) == SUCCESS) v_retitle();
}

void v_settingsAutoSaveCommand() {
    s__globals.SaveWithoutAsking = s__globals.SaveWithoutAsking > 0 ? 0 : 1;
    v_menuMarkSet();
}

void v_settingsDefaultsCommand() {
    if (j_messageBox(MSGBOX_CONFIRM,
                     "Are you sure you want to reload the factory defaults?\n\nNote: This will clear all of your "
                     "changes to the options.",
                     ICON_WARNING) == ACTIONBUTTON_CANCEL)
        return;
    v_settingsDefaults();
    v_dialogRefresh();
    mdlState_startDefaultCommand();
}

void v_settingsDialogReset() {
    // String lists of an earlier load went with the host's dialogs.
    g_settingsDialog = SettingsDialogState{};
}
