// Raster attachment records: lookup, validation and loading.
#include "raster/target.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>

#include "host/hostwrap.h"
#include "host/messages.h"
#include "raster/bitmap.h"
#include "raster/clip.h"
#include "raster/commit.h"
#include "raster/context.h"
#include "settings/settings.h"

namespace {

// Module state of the raster lookup: the table of records (a deque keeps them at stable
// addresses as it grows).
struct RasterTargetState {
    std::deque<RasterTarget> rasterTargets;
};

RasterTargetState g_rasterTargets;

bool isMonochrome(int colorMode) { return colorMode == IMAGECOLOR_Monochrome || colorMode == IMAGECOLOR_MonochromeAlt; }

bool isSupportedMode(int colorMode) {
    switch (colorMode) {
    case IMAGECOLOR_RGB:
    case IMAGECOLOR_256Colors:
    case IMAGECOLOR_GreyScale:
    case IMAGECOLOR_Monochrome:
    case IMAGECOLOR_RGBA:
    case IMAGECOLOR_MonochromeAlt:
        return true;
    default:
        return false;
    }
}

int refuse(const char* text) {
    j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR);
    return ERROR;
}

double angleFromRightAngles(double degrees) {
    double best = 360.0;
    for (double right : {0.0, 90.0, 180.0, 270.0, 360.0, -90.0, -180.0, -270.0, -360.0}) {
        const double d = degrees - right;
        best = std::min(best, d < 0 ? -d : d);
    }
    return best;
}

void fillGeometry(RasterTarget& t, const RasterFileInfo& info, const RasterGeoReference& geo) {
    t.origin = geo.origin;
    t.widthPx = info.widthPx;
    t.heightPx = info.heightPx;
    t.extentX = geo.extentX;
    t.extentY = geo.extentY;
    t.wholeBlock = PixelBlock{0, 0, t.widthPx, t.heightPx, 1};
    t.pixelSizeX = t.widthPx > 0 ? t.extentX / t.widthPx : 0.0;
    t.pixelSizeY = t.heightPx > 0 ? t.extentY / t.heightPx : 0.0;
    t.rotation = geo.rotation;
    t.affinity = geo.affinity;
    t.readOnly = info.readOnly ? 1 : 0;
    v_narrowCopy(t.filePath, sizeof t.filePath, info.fullPath);
    t.halfPixel = t.pixelSizeX > t.pixelSizeY ? 0.5 * t.pixelSizeY : 0.5 * t.pixelSizeX;
    if (angleFromRightAngles(t.rotation) > 1.0) {
        s__globals.ScaleLock = 1;
        s__globals.ScaleY = s__globals.ScaleX;
    }
}

}  // namespace

int n_rasterCount(DgnRasterP* last) {
    int count = 0;
    const DgnRasterCollection rasters = DgnRasterCollection::GetRasters(mdlModelRef_getActive());
    for (auto it = rasters.begin(); it.IsDifferent(rasters.end()); it.MoveToNext()) {
        DgnRasterP raster = it.GetCurrent();
        if (!raster) continue;
        ++count;
        if (last) *last = raster;
    }
    return count;
}

DgnRasterP pv_rasterFindAtPoints(const DPoint3d* points, int count, int view) {
    for (int i = 0; i < count; ++i) {
        if (DgnRasterP raster = mdlRaster_viewFindRaster(&points[i], view)) return raster;
    }
    return nullptr;
}

DgnRasterP pv_rasterFindByName(const char* path) {
    const DgnRasterCollection rasters = DgnRasterCollection::GetRasters(mdlModelRef_getActive());
    for (auto it = rasters.begin(); it.IsDifferent(rasters.end()); it.MoveToNext()) {
        DgnRasterP raster = it.GetCurrent();
        RasterFileInfo info{};
        if (raster == nullptr || mdlRaster_fileInfoGet(&info, raster) != SUCCESS) continue;
        if (n_nameCompare(s_narrow(info.fullPath).c_str(), path) == 0) return raster;
    }
    return nullptr;
}

int j_rasterFileInfo(RasterFileInfo* info, DgnRasterP raster) {
    if (raster == nullptr) return ERROR;
    return mdlRaster_fileInfoGet(info, raster);
}

namespace {

// The file information of raster into info; false after the host status is reported.
bool b_fileInfoRead(RasterFileInfo& info, DgnRasterP raster) {
    const int status = j_rasterFileInfo(&info, raster);
    if (status == SUCCESS) return true;
    v_hostErrorReport(status);
    return false;
}

// j_rasterCheckSupport on file information already read.
int j_supportCheck(DgnRasterP raster, const RasterFileInfo& info, bool allowReadOnly, bool compareDepth) {
    if (info.readOnly && !allowReadOnly) return refuse("Raster attachment is read-only.");
    if (info.colorMode == IMAGECOLOR_16Colors || info.colorMode == IMAGECOLOR_16ColorsAlt) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "PixelMend doesn't support 4-bit-per-pixel raster files.\n\n To request 4bpp support, please "
                      "email %s.",
                      SUPPORT_EMAIL);
        return refuse(text);
    }
    if (editContext().b_despeckling() && info.colorMode != IMAGECOLOR_Monochrome)
        return refuse("Despeckle only supports monochrome raster files.");
    const RasterTarget* current = currentTarget();
    if (compareDepth && current && std::uint32_t(info.colorMode) != current->colorMode)
        return refuse(
            "Color depth of source file doesn't match color depth of destination file. Operation is impossible.");
    if (info.colorMode == IMAGECOLOR_RGBA && (info.compression == IMAGECOMPRESS_LZW || info.compression == -5)) {
        const int answer = j_messageBox(MSGBOX_YESNO,
                                        "PixelMend doesn't support 32-bit-per-pixel raster files with LZW compression. "
                                        "Would you like to convert your raster file to 24-bit-per-pixel color space?",
                                        ICON_ERROR);
        if (answer == ACTIONBUTTON_YES) j_rasterConvert(raster, IMAGECOLOR_RGB);
        return ERROR;
    }
    if (!isSupportedMode(info.colorMode)) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "PixelMend doesn't support the pixel layout of this raster file (color mode %d).",
                      info.colorMode);
        return refuse(text);
    }
    return SUCCESS;
}

}  // namespace

int j_rasterCheckSupport(DgnRasterP raster, bool allowReadOnly, bool compareDepth) {
    RasterFileInfo info{};
    if (!b_fileInfoRead(info, raster)) return ERROR;
    return j_supportCheck(raster, info, allowReadOnly, compareDepth);
}

RasterTarget* pv_rasterTargetFind(DgnRasterP raster) {
    for (RasterTarget& t : g_rasterTargets.rasterTargets) {
        if (t.raster == raster) return &t;
    }
    return nullptr;
}

RasterTarget* pv_rasterTargetLoad(DgnRasterP raster, bool allowReadOnly, bool compareDepth) {
    if (raster == nullptr) return nullptr;
    RasterFileInfo info{};
    if (!b_fileInfoRead(info, raster)) return nullptr;
    if (j_supportCheck(raster, info, allowReadOnly, compareDepth) != SUCCESS) return nullptr;

    RasterTarget* target = pv_rasterTargetFind(raster);
    if (target) {
        if (n_nameCompare(target->filePath, s_narrow(info.fullPath).c_str()) != 0) target->statsValid = 0;
        if (!target->statsValid) *target = RasterTarget{};
    } else {
        g_rasterTargets.rasterTargets.emplace_back();
        if (s__globals.HostVersion89) mdlRaster_fileReload(raster, RASTER_OPTION_UNDOABLE);
        target = &g_rasterTargets.rasterTargets.back();
        *target = RasterTarget{};
    }

    RasterRenderingInfo rendering{};
    RasterExtendedInfo extended{};
    RasterGeoReference geo{};
    mdlRaster_renderingInfoGet(&rendering, raster);
    mdlRaster_extendedInfoGet(&extended, raster);
    mdlRaster_geoReferenceInfoGet(&geo, raster);
    target->raster = raster;
    fillGeometry(*target, info, geo);

    target->compression = std::uint32_t(info.compression);
    target->colorMode = target->transferColorMode = std::uint32_t(info.colorMode);
    target->fileFormat = std::uint32_t(info.fileFormat);
    ColorPaletteEntry palette[256] = {};
    if (mdlRaster_paletteGet(palette, raster) == SUCCESS) {
        std::memcpy(target->palette, palette, sizeof target->palette);
        target->hasPalette = 1;
    }
    target->paletteCount = 256;
    if (info.colorMode == IMAGECOLOR_GreyScale) target->transferColorMode = IMAGECOLOR_256Colors;

    if (isMonochrome(info.colorMode)) {
        target->imageFormat = IMAGEFORMAT_BitMap;
        target->bitsPerPixel = 1;
        target->colorCount = 2;
        std::memcpy(target->bgColor, rendering.background, 3);
        if (info.colorMode == IMAGECOLOR_Monochrome && j_polarityDetect(raster, target) != SUCCESS) return nullptr;
    } else if (info.colorMode == IMAGECOLOR_256Colors || info.colorMode == IMAGECOLOR_GreyScale) {
        target->imageFormat = IMAGEFORMAT_ByteMap;
        target->bitsPerPixel = 8;
        target->colorCount = 256;
        if (!target->statsValid) {
            target->bgIndex = extended.data[0];
            v_bgStatistics(raster, target);
        }
    } else if (info.colorMode == IMAGECOLOR_RGB || info.colorMode == IMAGECOLOR_RGBA) {
        target->colorMode = target->transferColorMode = IMAGECOLOR_RGB;
        target->imageFormat = IMAGEFORMAT_RGB;
        target->bitsPerPixel = 24;
        if (!target->statsValid) {
            std::memcpy(target->bgColor, rendering.background, 3);
            v_bgStatistics(raster, target);
        }
    }
    return target;
}

void v_rasterTargetFreeAll() {
    g_rasterTargets.rasterTargets.clear();
    v_editContextForgetTargets();
}

const char* pc_formatName(int fileFormat) {
    static const char* const names[42] = {
        nullptr,        "RGB",       "TGA",       "TIFF",   "PICT",  "PCX",     "PS",    "GIF",      "WPG",
        "BMP",          "SUNRASTER", "IMGMAPPED", "IMGRGB", "RLE",   nullptr,   nullptr, "BUMP",     "COT",
        "JPEG",         "CIT",       "TG4",       "FAX",    "CALS",  "INGR",    "RLC",   "PACKBYTE", nullptr,
        "PROCEDURE",    "PNG",       "GEOTIFF",   "HMR",    "ITIFF", "C29",     "MRSID", "ERMAPPER", "TIFFINTGR",
        "MULTICHANNEL", "C30",       "C31",       "EPX",    "BIL",   "JPEG2000"};
    if (fileFormat < 0 || fileFormat > 41 || names[fileFormat] == nullptr) return "UNKNOWN";
    return names[fileFormat];
}

const char* pc_rasterFormatName() {
    const RasterTarget* target = currentTarget();
    return pc_formatName(target ? int(target->fileFormat) : 0);
}
