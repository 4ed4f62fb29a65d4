// Backups and derived file names.
#include "raster/commit.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <memory>
#include <string>
#include <vector>

#include "host/hostwrap.h"
#include "host/mdlelement.h"
#include "host/mdlraster.h"
#include "host/messages.h"
#include "raster/bitmap.h"
#include "raster/context.h"
#include "raster/target.h"
#include "settings/settings.h"

namespace {

// Module state: pairs of (source path, backup path), equal paths marking files the add-on created;
// the test hook called just before a finished file replaces another.
struct CommitState {
    StringList* backupList = nullptr;
    void (*beforeReplace)(const char* replacement, const char* path) = nullptr;
};

CommitState g_commit;

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

namespace {

// A commit failure: shown in the message centre as an error.
void commitError(const char* brief, const char* detail = "") {
    v_outputMessageCenter(OutputMessagePriority_Error, brief, detail, true);
}

// Whether path has a recorded backup that still exists (or is a file the add-on made itself).
bool hasLiveBackup(const char* path) {
    if (g_commit.backupList == nullptr) return false;
    const long size = mdlStringList_size(g_commit.backupList);
    for (long i = 0; i + 1 < size; i += 2) {
        if (n_nameCompare(memberText(i).c_str(), path) != 0) continue;
        return fileExists(memberText(i + 1).c_str());
    }
    return false;
}

// Records (path, backup) as the file's backup unless it already has one.
void recordBackup(const char* path, const char* backup) {
    if (g_commit.backupList == nullptr) g_commit.backupList = mdlStringList_create(0, 1);
    if (hasLiveBackup(path)) return;
    appendMember(path);
    appendMember(backup);
}

enum class Backup { Made, NotNeeded, Failed };

// The one backup of path (see j_rasterBackup); a failed copy is said in the message centre with
// consequence as its detail. *status gets the copy status (ERROR when none was needed).
Backup backupOnce(bool closeReopen, const char* path, char* backupPath, const char* consequence, int* status) {
    *status = ERROR;
    if (s__globals.Backup == 0) return Backup::NotNeeded;
    if (g_commit.backupList == nullptr) g_commit.backupList = mdlStringList_create(0, 1);
    if (hasLiveBackup(path)) return Backup::NotNeeded;
    char backup[MAXFILELENGTH];
    v_uniqueFileName(backup, path, "backup");
    DgnRasterP raster = currentRaster();
    if (closeReopen) mdlRaster_fileClose(raster, RASTER_OPTION_NOW);
    *status = mdlFile_copy(w_widen(backup).c_str(), w_widen(path).c_str());
    if (*status == SUCCESS) recordBackup(path, backup);
    const int reopened = closeReopen ? mdlRaster_fileSourceOpen(raster, RASTER_OPTION_NOW) : SUCCESS;
    if (backupPath) std::snprintf(backupPath, MAXFILELENGTH, "%s", backup);
    char text[3 * MAXFILELENGTH];
    if (reopened != SUCCESS) {
        // Whatever became of the copy, the edit cannot go on without its file.
        std::snprintf(text, sizeof text, "Unable to open <%s> again after its backup. rc=%d.", path, reopened);
        commitError(text, consequence);
        *status = reopened;
        return Backup::Failed;
    }
    if (*status == SUCCESS) return Backup::Made;
    std::snprintf(text, sizeof text, "Unable to make a backup of <%s> as <%s>. rc=%d.", path, backup, *status);
    commitError(text, consequence);
    return Backup::Failed;
}

}  // namespace

int j_rasterBackup(bool closeReopen, const char* path, char* backupPath) {
    int status = ERROR;
    backupOnce(closeReopen, path, backupPath, "", &status);
    return status;
}

void v_backupListFree() {
    if (g_commit.backupList) mdlStringList_destroy(g_commit.backupList);
    g_commit.backupList = nullptr;
}

void v_createdFileRecord(const char* path) {
    if (g_commit.backupList == nullptr) g_commit.backupList = mdlStringList_create(0, 1);
    appendMember(path);
    appendMember(path);
}

void v_commitReplaceHookSet(void (*beforeReplace)(const char* replacement, const char* path)) {
    g_commit.beforeReplace = beforeReplace;
}

void v_commitReset() { g_commit = CommitState{}; }

namespace {

struct PathParts {
    char device[MAXFILELENGTH] = "";
    char directory[MAXFILELENGTH] = "";
    char stem[MAXFILELENGTH] = "";
    char extension[MAXFILELENGTH] = "";
    explicit PathParts(const char* path) { v_fileParseName(path, device, directory, stem, extension); }
};

void refuse(const char* text) { j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR); }

void clearStats(DgnRasterP raster) {
    if (RasterTarget* t = pv_rasterTargetFind(raster)) t->statsValid = 0;
}

bool hasTiffExtension(const char* path) {
    const char* dot = std::strrchr(path, '.');
    return dot && (n_nameCompare(dot, ".tif") == 0 || n_nameCompare(dot, ".tiff") == 0);
}

void replaceExtensionWithTif(char* path) {
    char* dot = std::strrchr(path, '.');
    const char* slash = std::strrchr(path, '/');
    if (dot == nullptr || (slash && dot < slash)) return;
    std::snprintf(dot, MAXFILELENGTH - size_t(dot - path), ".tif");
}

// Inverts a monochrome buffer for the output format: TIFF, RLE and HMR files are written
// with the opposite convention of the others, CIT files always inverted.
void invertForFormat(std::uint8_t* bytes, int length, int format, const RasterTarget& target) {
    bool invert = false;
    if (format == IMAGEFILE_TIFF || format == IMAGEFILE_RLE || format == IMAGEFILE_HMR)
        invert = !target.backgroundBlack;
    else if (format == IMAGEFILE_CIT)
        invert = true;
    else
        invert = target.backgroundBlack != 0;
    if (!invert) return;
    for (int i = 0; i < length; ++i) bytes[i] = std::uint8_t(~bytes[i]);
}

}  // namespace

int j_rasterConvert(DgnRasterP raster, int colorMode) {
    RasterFileInfo info{};
    if (const int status = j_rasterFileInfo(&info, raster); status != SUCCESS) return status;
    const std::string source = s_narrow(info.fullPath);
    const PathParts parts(source.c_str());
    char stem[MAXFILELENGTH];
    std::snprintf(stem, sizeof stem, "%s-rasconv", parts.stem);
    char temporary[MAXFILELENGTH];
    v_fileBuildName(temporary, parts.device, parts.directory, stem, parts.extension);
    std::remove(temporary);

    const RasterFileFormat format = RasterFileFormat::Create(info.fileFormat, info.formatSubCode);
    const RasterColorMode mode = RasterColorMode::Create(colorMode);
    const RasterCompressionType compression = RasterCompressionType::Create(info.compression, 100);
    const int status = mdlRaster_fileExport(w_widen(temporary).c_str(), &format, &mode, &compression, 1.0, raster);
    if (status != SUCCESS) {
        refuse("Unable to export raster.");
        return status;
    }
    mdlRaster_fileClose(raster, RASTER_OPTION_NOW);
    // The new colour mode cannot hold everything the file has (a 32-bit file's alpha channel), and
    // the conversion cannot be undone: the original is kept under a backup name, whatever the
    // backup setting, before the converted file takes its place. Without that copy nothing changes.
    char backup[MAXFILELENGTH];
    v_uniqueFileName(backup, source.c_str(), "backup");
    if (const int copied = mdlFile_copy(w_widen(backup).c_str(), w_widen(source.c_str()).c_str()); copied != SUCCESS) {
        std::remove(temporary);
        mdlRaster_fileSourceOpen(raster, RASTER_OPTION_NOW);
        char text[2 * MAXFILELENGTH + 160];
        std::snprintf(text, sizeof text,
                      "Unable to convert raster <%s>: its original could not be kept as <%s> (rc=%d). The raster is "
                      "left as it was.",
                      source.c_str(), backup, copied);
        refuse(text);
        return copied;
    }
    recordBackup(source.c_str(), backup);
    // One rename puts the converted file over the source: the source's name never goes missing.
    if (g_commit.beforeReplace) g_commit.beforeReplace(temporary, source.c_str());
    if (std::rename(temporary, source.c_str()) != 0) {
        // The converted image stays under its temporary name, so nothing is lost.
        char text[2 * MAXFILELENGTH + 128];
        std::snprintf(text, sizeof text,
                      "Unable to rename converted raster back to original raster name. The converted raster is %s.",
                      temporary);
        refuse(text);
    } else {
        clearStats(raster);
        char text[2 * MAXFILELENGTH + 128];
        std::snprintf(text, sizeof text, "Converted <%s> to 24-bit color. The original is kept as <%s>.",
                      source.c_str(), backup);
        v_outputMessageCenter(OutputMessagePriority_Info, text, "", false);
    }
    mdlRaster_fileSourceOpen(raster, RASTER_OPTION_NOW);
    return status;
}

int j_outputRasterAsk(char* name) {
    for (;;) {
        const PathParts parts(name);
        const bool hmr = n_nameCompare(parts.extension, "hmr") == 0;
        char proposed[MAXFILELENGTH], filter[MAXFILELENGTH];
        std::snprintf(proposed, sizeof proposed, "%s.%s", parts.stem, hmr ? "tif" : parts.extension);
        std::snprintf(filter, sizeof filter, "*.%s", hmr ? "tif" : parts.extension);
        char startDir[MAXFILELENGTH];
        v_fileBuildName(startDir, parts.device, parts.directory, nullptr, nullptr);
        WChar chosen[MAXFILELENGTH] = {};
        if (mdlDialog_fileCreate(chosen, nullptr, 0, w_widen(proposed).c_str(), w_widen(filter).c_str(),
                                 w_widen(startDir).c_str(), L"Create output raster") != SUCCESS)
            return ERROR;
        const std::string path = s_narrow(chosen);
        const RasterTarget* target = currentTarget();
        if (target && n_nameCompare(path.c_str(), target->filePath) == 0) {
            refuse("Sorry, you cannot overwrite your source raster. Please specify another output file.");
            continue;
        }
        if (pv_rasterFindByName(path.c_str())) {
            char text[MAXFILELENGTH + 160];
            std::snprintf(text, sizeof text,
                          "Sorry, raster \"%s\" is already attched to current design file. Please specify another "
                          "output file.",
                          path.c_str());
            refuse(text);
            continue;
        }
        std::snprintf(name, MAXFILELENGTH, "%s", path.c_str());
        return SUCCESS;
    }
}

int j_bitmapSaveFile(const char* name, int fileFormat, const std::uint8_t* bytes, const BitmapSize* size) {
    if (currentTarget() == nullptr || bytes == nullptr) return ERROR;
    const RasterTarget& target = *currentTarget();
    const std::wstring wname = w_widen(name);
    switch (target.bitsPerPixel) {
    case 1:
        return mdlImage_createFileFromBitMap(wname.c_str(), fileFormat, size, bytes, 0, 0, 0);
    case 8: {
        std::uint8_t red[256], green[256], blue[256];
        const int count = std::clamp(target.paletteCount, 1, 256);
        for (int i = 0; i < count; ++i) {
            red[i] = target.palette[i][0];
            green[i] = target.palette[i][1];
            blue[i] = target.palette[i][2];
        }
        const bool palette = target.hasPalette != 0;
        return mdlImage_extCreateFileFromMap(wname.c_str(), fileFormat, int(target.colorMode), size, bytes,
                                             palette ? red : nullptr, palette ? green : nullptr,
                                             palette ? blue : nullptr, count, int(target.compression), 0, 0);
    }
    case 24: {
        const std::size_t planeBytes =
            std::size_t(std::max(size->width, 0)) * std::size_t(std::max(size->height, 0)) * 3;
        PixelBuffer planes(static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(planeBytes, 1))));
        if (!planes) return MDLERR_INSFMEMORY;
        mdlImage_RGBToRGBSeparate(planes.get(), bytes, size, int(target.colorMode));
        return mdlImage_extCreateFileFromRGB(wname.c_str(), fileFormat, int(target.colorMode), size, planes.get(),
                                             int(target.compression), 0, 0);
    }
    default:
        return ERROR;
    }
}

DgnRasterP pv_rasterCommitFile(std::uint8_t* bytes, const BitmapSize* size, const DPoint3d* origin, const double* scale,
                               const char* outputName, const char* suffix, bool keepSource, bool askOutput,
                               bool detachSource) {
    RasterTarget* target = currentTarget();
    DgnRasterP source = currentRaster();
    if (target == nullptr || source == nullptr || bytes == nullptr) return nullptr;
    char output[MAXFILELENGTH];
    if (outputName)
        std::snprintf(output, sizeof output, "%s", outputName);
    else
        v_uniqueFileName(output, target->filePath, suffix);
    int format = outputName ? IMAGEFILE_TIFF : int(target->fileFormat);

    if (target->colorMode == IMAGECOLOR_Monochrome) invertForFormat(bytes, j_bitmapBytes(size), format, *target);

    RasterGeoReference geo{};
    RasterRenderingInfo rendering{};
    RasterExtendedInfo extended{};
    mdlRaster_geoReferenceInfoGet(&geo, source);
    mdlRaster_renderingInfoGet(&rendering, source);
    mdlRaster_extendedInfoGet(&extended, source);

    if (format != IMAGEFILE_TIFF) {
        // Probe whether the host can write this format at all, on a corner of the buffer.
        const BitmapSize probe{std::min(size->width, 32), std::min(size->height, 32)};
        std::vector<std::uint8_t> corner(std::size_t(std::max(j_bitmapBytes(&probe), 1)));
        const BitmapSize rowInSize{size->width, 1}, rowOutSize{probe.width, 1};
        const int rowIn = j_bitmapBytes(&rowInSize);
        const int rowOut = j_bitmapBytes(&rowOutSize);
        for (int y = 0; y < probe.height && rowIn > 0; ++y)
            std::memcpy(corner.data() + std::size_t(y) * std::size_t(rowOut),
                        bytes + std::size_t(y) * std::size_t(rowIn), std::size_t(rowOut));
        const int status = j_bitmapSaveFile(output, format, corner.data(), &probe);
        std::remove(output);
        if (status == MDLERR_CANNOTWRITEFORMAT) {
            if (!outputName && !askOutput) {
                char text[512];
                std::snprintf(text, sizeof text,
                              "PixelMend does not support crop/resize operations on this type of raster (%s). Would "
                              "you like us to convert this raster to a standard TIFF to handle this problem? %s",
                              pc_rasterFormatName(),
                              keepSource ? "You will be able to undo this conversion."
                                         : "\n\nNOTE: You will NOT be able to undo this conversion.");
                if (j_messageBox(MSGBOX_YESNO, text, ICON_QUESTION) != ACTIONBUTTON_YES) return nullptr;
            }
            if (!hasTiffExtension(output)) {
                replaceExtensionWithTif(output);
                if (!outputName) askOutput = true;
            }
            format = IMAGEFILE_TIFF;
        }
    }
    if (askOutput && j_outputRasterAsk(output) != SUCCESS) return nullptr;

    char text[3 * MAXFILELENGTH];
    if (const int status = j_bitmapSaveFile(output, format, bytes, size); status != SUCCESS) {
        std::snprintf(text, sizeof text, "Unable to save output raster <%s>. rc=%d.", output, status);
        commitError(text);
        return nullptr;
    }
    if (detachSource) {
        mdlRaster_extendedInfoGet(&extended, source);
        mdlRaster_detach(source, RASTER_OPTION_NOW);
        if (const int status = mdlRaster_fileClose(source, RASTER_OPTION_NOW); status != SUCCESS) {
            std::snprintf(text, sizeof text, "Unable to detach original raster <%s>. rc=%d", target->filePath, status);
            commitError(text);
            return nullptr;
        }
    }
    if (!keepSource) {
        // Without its backup the source is not replaced: the result stays beside it, under its own name.
        char consequence[2 * MAXFILELENGTH + 64];
        std::snprintf(consequence, sizeof consequence, "The result is kept as <%s>; <%s> is left as it was.", output,
                      target->filePath);
        int status = SUCCESS;
        if (backupOnce(!detachSource, target->filePath, nullptr, consequence, &status) == Backup::Failed)
            keepSource = true;
    }
    if (keepSource) {
        v_createdFileRecord(output);
    } else {
        // One rename puts the result over the source: the source's name never goes missing.
        if (g_commit.beforeReplace) g_commit.beforeReplace(output, target->filePath);
        if (std::rename(output, target->filePath) != 0) {
            std::snprintf(text, sizeof text, "Unable to rename output raster <%s> back to original raster name <%s>.",
                          output, target->filePath);
            commitError(text);
            return nullptr;
        }
        target->statsValid = 0;
        std::snprintf(output, sizeof output, "%s", target->filePath);
    }

    DgnRasterP created = nullptr;
    if (const int status = mdlRaster_fileOpen(&created, w_widen(output).c_str(), mdlModelRef_getActive(),
                                              RASTER_OPEN_READWRITE, RASTER_OPTION_UNDOABLE);
        status != SUCCESS) {
        std::snprintf(text, sizeof text, "Unable to attach new raster <%s> as raster reference. rc=%d.", output,
                      status);
        commitError(text);
        return nullptr;
    }
    geo.origin = *origin;
    geo.extentX = size->width * target->pixelSizeX;
    geo.extentY = size->height * target->pixelSizeY;
    if (scale) {
        geo.extentX *= scale[0];
        geo.extentY *= scale[1];
        geo.rotation += s__globals.CopyAngle;
    }
    if (outputName) geo.rotation = geo.affinity = 0.0;
    int status = mdlRaster_attach(created, RASTER_OPTION_UNDOABLE);
    if (status == SUCCESS) status = mdlRaster_geoReferenceInfoSet(&geo, created, RASTER_OPTION_NOW);
    if (status != SUCCESS) {
        std::snprintf(text, sizeof text, "Unable to place new raster <%s> in the design. rc=%d.", output, status);
        commitError(text);
        return nullptr;
    }
    mdlRaster_renderingInfoSet(&rendering, created, RASTER_OPTION_UNDOABLE);
    mdlRaster_extendedInfoSet(&extended, created, RASTER_OPTION_UNDOABLE);
    for (int view = 0; view < 8; ++view) {
        if (mdlView_isVisible(view)) mdlView_updateSingle(view);
    }
    return created;
}

int j_rasterReopen(DgnRasterP* raster, const char* path, bool readOnly) {
    RasterFileInfo info{};
    RasterExtendedInfo extended{};
    RasterGeoReference geo{};
    RasterRenderingInfo rendering{};
    j_rasterFileInfo(&info, *raster);
    mdlRaster_extendedInfoGet(&extended, *raster);
    mdlRaster_geoReferenceInfoGet(&geo, *raster);
    mdlRaster_renderingInfoGet(&rendering, *raster);
    if (n_nameCompare(s_narrow(info.fullPath).c_str(), path) == 0 && info.readOnly == readOnly) return SUCCESS;
    mdlRaster_detach(*raster, RASTER_OPTION_UNDOABLE);
    mdlRaster_fileClose(*raster, RASTER_OPTION_UNDOABLE);
    if (mdlRaster_fileOpen(raster, w_widen(path).c_str(), mdlModelRef_getActive(),
                           readOnly ? RASTER_OPEN_READONLY : RASTER_OPEN_READWRITE, RASTER_OPTION_UNDOABLE) != SUCCESS)
        return ERROR;
    mdlRaster_geoReferenceInfoSet(&geo, *raster, RASTER_OPTION_UNDOABLE);
    mdlRaster_renderingInfoSet(&rendering, *raster, RASTER_OPTION_UNDOABLE);
    mdlRaster_attach(*raster, RASTER_OPTION_UNDOABLE);
    return SUCCESS;
}
