// The folder chooser (dialog 5700): a folder text and the list of the folders in
// it; picking a row goes into that folder, OK gives the folder in the text.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/hostwrap.h"
#include "host/messages.h"
#include "resources/ids.h"
#include "settings/dialog.h"

namespace {

// Module state of the folder chooser while it is open.
struct DirectoryChooserState {
    std::string folder;                // the folder shown, ending in '/'
    std::string title;                 // the window's title
    std::string chosen;                // the folder given with OK
    bool chosenSet = false;            // OK was given
    std::vector<std::string> entries;  // the folders listed, by row
    StringList* rows = nullptr;        // the list box's rows
};

DirectoryChooserState g_chooser;

std::string s_currentFolder() {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::current_path(ec);
    return ec ? "/" : folder.string();
}

std::string s_withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// The folders inside folder, sorted; false when folder cannot be listed.
bool b_subfolders(const std::string& folder, std::vector<std::string>* names) {
    std::error_code ec;
    std::filesystem::directory_iterator entries(folder, ec);
    if (ec) return false;
    if (names && folder != "/") names->push_back("..");
    for (; entries != std::filesystem::directory_iterator(); entries.increment(ec)) {
        if (ec) break;
        std::error_code kind;
        if (names && entries->is_directory(kind)) names->push_back(entries->path().filename().string());
    }
    if (names) std::sort(names->begin(), names->end());
    return true;
}

// Fills the list box with the folders of g_chooser.folder and shows the folder in the text field.
void v_chooserShow(MSDialog* dialog) {
    g_chooser.entries.clear();
    b_subfolders(g_chooser.folder, &g_chooser.entries);
    if (!g_chooser.rows) g_chooser.rows = mdlStringList_create(0, 1);
    if (g_chooser.rows) {
        mdlStringList_deleteAll(g_chooser.rows);
        for (const std::string& name : g_chooser.entries)
            mdlStringList_insertMember(g_chooser.rows, -1, w_widen(name.c_str()).c_str());
        if (DialogItem* list = mdlDialog_itemGetByTypeAndId(dialog, RTYPE_ListBox, rid::ITEM_DIRECTORY_LIST, 0))
            mdlDialog_listBoxSetStrListP(list, g_chooser.rows, 1);
    }
    const int text = n_itemIndex(dialog, RTYPE_Text, rid::ITEM_DIRECTORY_TEXT);
    MSValueDescr value;
    value.kind = MSValueDescr::String;
    if (text >= 0) mdlDialog_itemSetValue(&value, w_widen(g_chooser.folder.c_str()).c_str(), dialog, text);
}

// The folder of a picked row: ".." goes up one folder (never above the root).
std::string s_pickedFolder(const std::string& folder, const std::string& name) {
    if (name != "..") return s_withSlash(folder + name);
    std::string up = folder.substr(0, folder.size() > 1 ? folder.size() - 1 : 1);
    const std::size_t slash = up.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : up.substr(0, slash + 1);
}

void v_chooserListHook(DialogItemMessage* message) {
    switch (message->messageType) {
    case DITEM_MESSAGE_CREATE:
        mdlWindow_titleSet(mdlDialog_getWindow(message->db), w_widen(g_chooser.title.c_str()).c_str());
        v_chooserShow(message->db);
        break;
    case DITEM_MESSAGE_DESTROY:
        if (g_chooser.rows) mdlStringList_destroy(g_chooser.rows);
        g_chooser.rows = nullptr;
        break;
    case DITEM_MESSAGE_STATECHANGED: {
        bool found = false;
        int row = -1, column = 0;
        if (message->dialogItemP &&
            mdlDialog_listBoxGetNextSelection(&found, &row, &column, message->dialogItemP) == 0 && found &&
            row < static_cast<int>(g_chooser.entries.size())) {
            g_chooser.folder = s_pickedFolder(g_chooser.folder, g_chooser.entries[row]);
            v_chooserShow(message->db);
        }
        break;
    }
    default:
        message->msgUnderstood = false;
        return;
    }
    message->msgUnderstood = true;
}

void v_chooserDialogHook(DialogMessage* message) {
    if (message->messageType == DIALOG_MESSAGE_ACTIONBUTTON && message->value1 == ACTIONBUTTON_OK) {
        const int text = n_itemIndex(message->db, RTYPE_Text, rid::ITEM_DIRECTORY_TEXT);
        MSValueDescr value;
        WChar typed[MAXFILELENGTH] = {};
        if (text >= 0) mdlDialog_itemGetValue(&value, typed, message->db, text, MAXFILELENGTH);
        g_chooser.chosen = s_narrow(typed);
        g_chooser.chosenSet = true;
        message->msgUnderstood = true;
        return;
    }
    message->msgUnderstood = false;
}

}  // namespace

std::string s_directoryStart(const char* text) {
    std::string folder = text ? text : "";
    if (folder.empty())
        folder = s_currentFolder();
    else if (folder[0] != '/')
        folder = s_withSlash(s_currentFolder()) + folder;
    folder = s_withSlash(folder);
    if (b_subfolders(folder, nullptr)) return folder;
    char msdir[MAXFILELENGTH];
    if (j_cfgVarGet(msdir, sizeof msdir, "MSDIR") == 0 && msdir[0] != '\0') return s_withSlash(msdir);
    return folder;
}

bool b_folderWritable(const char* folder) {
    if (!folder || !*folder || !b_subfolders(folder, nullptr)) return false;
    // A file made and removed again is the one sure answer.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::filesystem::path probe = std::filesystem::path(folder) / (".pxmend-probe-" + std::to_string(stamp));
    const bool made = static_cast<bool>(std::ofstream(probe));
    std::error_code ignored;
    std::filesystem::remove(probe, ignored);
    return made;
}

std::string s_directoryResult(const std::string& folder) {
    std::string result = folder;
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

int j_directoryChoose(char* directory, const char* title) {
    if (!directory) return 1;
    static const DialogHookInfo hooks[] = {
        {rid::HOOK_DIRECTORY_DIALOG, nullptr, &v_chooserDialogHook},
        {rid::HOOK_DIRECTORY_LIST, &v_chooserListHook, nullptr},
    };
    mdlDialog_hookPublish(static_cast<int>(std::size(hooks)), hooks);
    g_chooser = DirectoryChooserState{};
    g_chooser.folder = s_directoryStart(directory);
    g_chooser.title = title ? title : "Select Directory";
    int action = ACTIONBUTTON_CANCEL;
    mdlDialog_openModal(&action, nullptr, rid::DIALOG_DIRECTORY);
    const bool chosen = action == ACTIONBUTTON_OK && g_chooser.chosenSet;
    if (chosen) {
        const std::string result = s_directoryResult(g_chooser.chosen);
        if (result.size() >= MAXFILELENGTH) {
            j_messageBox(MSGBOX_NOTICE, "The folder's path is longer than 255 characters.", ICON_ERROR);
        } else {
            std::snprintf(directory, MAXFILELENGTH, "%s", result.c_str());
        }
    }
    if (g_chooser.rows) mdlStringList_destroy(g_chooser.rows);
    g_chooser = DirectoryChooserState{};
    return chosen ? 0 : 1;
}
