// Backups and derived file names.
#include "raster/commit.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "frame/dialogs.h"
#include "host/hostwrap.h"
#include "host/mdlraster.h"
#include "raster/target.h"
#include "settings/settings.h"

CommitState g_commit;

namespace {

bool fileExists(const char* path) {
    char found[MAXFILELENGTH];
    return j_fileFind(found, path, nullptr, nullptr) == SUCCESS;
}

std::string memberText(long index) {
    WCharCP text = nullptr;
    InfoField* info = nullptr;
    if (mdlStringList_getMember(&text, &info, g_commit.backupList, index) != SUCCESS) return {};
    return s_narrow(text);
}

void appendMember(const char* text) {
    const long index = mdlStringList_insertMember(g_commit.backupList, -1, w_widen(text).c_str());
    (void)index;
}

}  // namespace

void v_uniqueFileName(char* name, const char* path, const char* suffix) {
    char device[MAXFILELENGTH] = "", directory[MAXFILELENGTH] = "", stem[MAXFILELENGTH] = "",
         extension[MAXFILELENGTH] = "";
    v_fileParseName(path, device, directory, stem, extension);
    int n = 1;
    char candidate[MAXFILELENGTH];
    char* dash = std::strrchr(stem, '-');
    const size_t suffixLength = std::strlen(suffix);
    if (dash && std::strncmp(dash + 1, suffix, suffixLength) == 0) {
        const char* after = dash + 1 + suffixLength;
        n = std::isdigit(static_cast<unsigned char>(*after)) ? std::atoi(after) + 1 : 2;
        *dash = '\0';
        std::snprintf(candidate, sizeof candidate, "%s-%s%d", stem, suffix, n);
    } else {
        std::snprintf(candidate, sizeof candidate, "%s-%s", stem, suffix);
    }
    for (;;) {
        v_fileBuildName(name, device, directory, candidate, extension);
        if (!fileExists(name)) return;
        ++n;
        std::snprintf(candidate, sizeof candidate, "%s-%s%d", stem, suffix, n);
    }
}

int j_rasterBackup(bool closeReopen, const char* path, char* backupPath) {
    if (s__globals.Backup == 0) return ERROR;
    if (g_commit.backupList == nullptr) g_commit.backupList = mdlStringList_create(0, 1);
    const long size = mdlStringList_size(g_commit.backupList);
    for (long i = 0; i + 1 < size; i += 2) {
        if (strcasecmp(memberText(i).c_str(), path) != 0) continue;
        if (fileExists(memberText(i + 1).c_str())) return ERROR;
        break;
    }
    char backup[MAXFILELENGTH];
    v_uniqueFileName(backup, path, "backup");
    DgnRasterP raster = g_rasterTargets.currentRaster;
    if (closeReopen) mdlRaster_fileClose(raster, RASTER_OPTION_NOW);
    const int status = mdlFile_copy(w_widen(backup).c_str(), w_widen(path).c_str());
    if (status == SUCCESS) {
        appendMember(path);
        appendMember(backup);
    }
    if (closeReopen) mdlRaster_fileSourceOpen(raster, RASTER_OPTION_NOW);
    if (backupPath) std::snprintf(backupPath, MAXFILELENGTH, "%s", backup);
    return status;
}

void v_backupListFree() {
    if (g_commit.backupList) mdlStringList_destroy(g_commit.backupList);
    g_commit.backupList = nullptr;
}

int j_rasterConvert(DgnRasterP raster, int colorMode) {
    // The in-place conversion arrives with the commit path of the block edits;
    // until then the file is left exactly as it is.
    (void)raster;
    (void)colorMode;
    j_messageBox(MSGBOX_NOTICE, "Converting raster files is not available yet in this version of PixelMend.",
                 ICON_INFO);
    return ERROR;
}
