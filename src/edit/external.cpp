// Edit in an external program: the raster file (or a copy named "-edited") handed to the program the
// desktop associates with it, a Continue box until the file is free again, and the attachment shown
// with the changed pixels.
#include "edit/external.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host/hostwrap.h"
#include "host/mdlsystem.h"
#include "host/messages.h"
#include "host/winapi.h"
#include "raster/clip.h"
#include "raster/commit.h"
#include "raster/context.h"
#include "raster/target.h"
#include "resources/ids.h"
#include "settings/settings.h"

namespace {

const char* const WAIT_TEXT =
    "Once you are done editing the raster file and have closed it in your external editor, please press "
    "<Continue> below. Your modified raster reference file will be reloaded into this DGN file.";

// The text of a ShellExecuteA failure.
const char* pc_shellErrorText(std::intptr_t r) {
    switch (r) {
    case 0:
    case SE_ERR_OOM:
        return "Out of memory";
    case SE_ERR_ACCESSDENIED:
        return "Access denied";
    case SE_ERR_SHARE:
        return "File is busy";
    case SE_ERR_ASSOCINCOMPLETE:
        return "Invalid association";
    default:
        return "Unknown error";
    }
}

// True when nobody else holds the file: it opens for writing at its end without sharing. A file the
// editor removed holds nothing either (its re-opening then says that it is gone).
bool b_fileFree(const char* path) {
    std::FILE* present = std::fopen(path, "rb");
    if (!present) return true;
    std::fclose(present);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// The Continue box until the editor has let go of the file (a read-only file is not tested).
void v_waitForEditor(const RasterTarget& target, const char* path) {
    for (;;) {
        // A box closed another way than by Continue ends the wait too.
        if (j_messageBox(rid::DIALOG_EDIT_WAIT, WAIT_TEXT, ICON_INFO) != rid::ACTION_CONTINUE) return;
        if (target.readOnly || b_fileFree(path)) return;
        j_messageBox(MSGBOX_NOTICE, "Raster file is still busy.", ICON_ERROR);
    }
}

// The file the editor gets into working (MAXFILELENGTH bytes): a fresh "-edited" copy, or the file
// itself after its backup; false when the copy could not be made (the user has been told).
bool b_workingFile(const RasterTarget& target, char* working) {
    if (s__globals.EditCopy == 0) {
        std::snprintf(working, MAXFILELENGTH, "%s", target.filePath);
        j_rasterBackup(false, target.filePath, nullptr);
        return true;
    }
    v_uniqueFileName(working, target.filePath, "edited");
    if (mdlFile_copy(w_widen(working).c_str(), w_widen(target.filePath).c_str()) == SUCCESS) {
        v_createdFileRecord(working);
        return true;
    }
    char text[3 * MAXFILELENGTH];
    std::snprintf(text, sizeof text, "Unable to copy <%s> to <%s>; the raster file is left as it was.", target.filePath,
                  working);
    v_outputMessageCenter(10, text, "", false);
    return false;
}

}  // namespace

extern "C" int j_shellExecute(int action, const char* path, char* errorText) {
    if (action == 0) {
        const auto r = reinterpret_cast<std::intptr_t>(ShellExecuteA(nullptr, "edit", path, nullptr, nullptr, SW_SHOW));
        if (r > 32) return 0;
        if (r != SE_ERR_NOASSOC) {
            std::snprintf(errorText, 20, "%s", pc_shellErrorText(r));
            return -1;
        }
    }
    // No program for the file's type, or the user asked to choose one: the Open With dialog.
    ShellExecuteA(nullptr, "openas", path, nullptr, nullptr, SW_SHOW);
    return 0;
}

void v_editExternal() {
    RasterTarget* target = currentTarget();
    DgnRasterP raster = currentRaster();
    if (!target || !raster) {
        mdlState_startDefaultCommand();
        return;
    }
    {
        UndoGroup undo;
        // The host lets go of the file so that another program may write it.
        mdlRaster_fileClose(raster, RASTER_OPTION_UNDOABLE);
        char working[MAXFILELENGTH];
        const bool haveFile = b_workingFile(*target, working);
        if (haveFile) {
            char errorText[64] = {};
            const int status = j_shellExecute(s__globals.ShellAction, working, errorText);
            if (status != 0) {
                char text[32];
                std::snprintf(text, sizeof text, "status = %d", status);
                v_outputMessageCenter(10, text, errorText, false);
            } else {
                v_waitForEditor(*target, working);
            }
            if (s__globals.EditCopy == 0) target->statsValid = 0;
        }
        if (const int status = mdlRaster_fileSourceOpen(raster, RASTER_OPTION_UNDOABLE); status != SUCCESS) {
            char text[2 * MAXFILELENGTH];
            std::snprintf(text, sizeof text, "Unable to open raster <%s> again after editing. rc=%d.", target->filePath,
                          status);
            v_outputMessageCenter(10, text, "", false);
        }
        if (haveFile && s__globals.EditCopy != 0)
            j_rasterReopen(&raster, working, target->readOnly != 0);
        else if (target->readOnly)
            mdlRaster_fileReload(raster, RASTER_OPTION_UNDOABLE);
    }
    mdlState_startDefaultCommand();
}
