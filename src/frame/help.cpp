// Help: the PDF manual beside the add-on opened at a named destination, and the
// generic help button's compiled help file.
#include "frame/help.h"

#include <cstdio>
#include <cstring>

#include "frame/app.h"
#include "host/hostwrap.h"
#include "host/mdlsystem.h"
#include "host/tovlib.h"
#include "settings/settings.h"

namespace {

// The dialogs whose generic help button opens select.chm instead of the task's help file.
bool b_selectDialog(int dialogId) { return dialogId >= 18000 && dialogId <= 18002; }

bool b_fileExists(const std::string& path) {
    if (path.empty()) return false;
    char found[MAXFILELENGTH];
    return j_fileFind(found, path.c_str(), nullptr, nullptr) == SUCCESS;
}

// NAME.EXT searched through TOV_LOCAL, then TOV_NETWORK; else the add-on's directory's NAME.EXT.
std::string s_helpFileLocate(const std::string& name, const char* extension) {
    const std::string file = name + extension;
    char found[MAXFILELENGTH];
    for (const char* variable : {"TOV_LOCAL", "TOV_NETWORK"})
        if (j_fileFind(found, file.c_str(), variable, nullptr) == SUCCESS) return found;
    return std::string(frameState().appDirectory) + name + extension;
}

// Opens the compiled help file of name (.chm before .hlp), or says that none was found.
void v_helpFileOpen(const std::string& name) {
    std::string path;
    for (const char* extension : {".chm", ".hlp"}) {
        path = s_helpFileLocate(name, extension);
        if (b_fileExists(path)) {
            j_OSOpenFile(path.c_str());
            return;
        }
    }
    char text[MAXFILELENGTH + 64];
    std::snprintf(text, sizeof text, "Cannot find the '%s' file.", path.c_str());
    mdlDialog_openMessageBox(MSGBOX_NOTICE, w_widen(text).c_str(), 1);
}

bool b_buttonReleased(const DialogItemMessage* message) {
    return message->messageType == DITEM_MESSAGE_BUTTON && message->buttonTrans == BUTTONTRANS_UP;
}

}  // namespace

std::string s_helpFilePath() { return std::string(frameState().appDirectory) + "Pxmend" + "v8.pdf"; }

void v_helpCommand(WCharCP argument) {
    const std::string destination = s_narrow(argument);
    if (destination.empty()) return;
    j_pdfHelp_displayNamedDest(s_helpFilePath().c_str(), destination.c_str());
}

void v_helpToolSettingsHook(DialogItemMessage* message) {
    if (message->messageType != DITEM_MESSAGE_BUTTON) {
        message->msgUnderstood = false;
        return;
    }
    // The host sends the press and the release; the manual opens once, on the release.
    if (b_buttonReleased(message) && s__globals.HelpTopic[0] != '\0')
        j_pdfHelp_displayNamedDest(s_helpFilePath().c_str(), s__globals.HelpTopic);
    message->msgUnderstood = true;
}

void v_helpGenericHook(DialogItemMessage* message) {
    if (message->messageType != DITEM_MESSAGE_BUTTON) {
        message->msgUnderstood = false;
        return;
    }
    if (b_buttonReleased(message)) {
        const std::string name =
            b_selectDialog(mdlDialog_getDialogId(message->db)) ? "select" : s_narrow(mdlSystem_getCurrTaskID());
        v_helpFileOpen(name);
    }
    message->msgUnderstood = true;
}
