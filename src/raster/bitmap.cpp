// The working bitmap: reads and writes of pixel blocks with their polarity
// corrections, canvas fills, copies, merges, and the per-file statistics.
#include "raster/bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/hostio.h"
#include "host/mdlsystem.h"
#include "host/messages.h"
#include "raster/clip.h"
#include "raster/commit.h"
#include "raster/context.h"
#include "settings/settings.h"

namespace {

constexpr int SAMPLE_LIMIT = 2000;  // statistics look at no more than 2000 x 2000 pixels
constexpr int PROBE_SIDE = 32;
constexpr int PROBE_BYTES = 128;

bool despeckling() { return editContext().b_despeckling(); }

void invertBytes(std::uint8_t* bytes, int length) {
    for (int i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(~bytes[i]);
}

// The whole raster limited to SAMPLE_LIMIT pixels a side, at the origin corner.
PixelBlock sampleBlock(const RasterTarget& target, BitmapSize* size) {
    PixelBlock block = target.wholeBlock;
    block.width = std::min(block.width, double(SAMPLE_LIMIT));
    block.height = std::min(block.height, double(SAMPLE_LIMIT));
    size->width = static_cast<std::int32_t>(block.width);
    size->height = static_cast<std::int32_t>(block.height);
    return block;
}

PixelFormat formatOf(std::uint32_t colorMode) {
    PixelFormat format{};
    format.colorMode = colorMode;
    format.paletteCount = 0;
    return format;
}

bool isBackground(const std::uint8_t* pixel, const std::uint8_t* bg) {
    for (int c = 0; c < 3; ++c) {
        if (std::abs(int(pixel[c]) - int(bg[c])) >= 5) return false;
    }
    return true;
}

// Takes the clip masks off and applies the neutral rendering for a statistics read.
void neutralReadBegin(DgnRasterP raster, const RasterTarget* target) {
    v_rasterClipMasks("OFF");
    v_rasterDisplayMode(0, raster, target, "OFF");
}

void neutralReadEnd(DgnRasterP raster, const RasterTarget* target) {
    v_rasterDisplayMode(0, raster, target, "ON");
    v_rasterClipMasks("ON");
}

}  // namespace

PixelBuffer::PixelBuffer(PixelBuffer&& other) noexcept : bytes_(other.bytes_), hostOwned_(other.hostOwned_) {
    other.bytes_ = nullptr;
    other.hostOwned_ = false;
}

PixelBuffer& PixelBuffer::operator=(PixelBuffer&& other) noexcept {
    if (this != &other) {
        v_release();
        bytes_ = other.bytes_;
        hostOwned_ = other.hostOwned_;
        other.bytes_ = nullptr;
        other.hostOwned_ = false;
    }
    return *this;
}

std::uint8_t** PixelBuffer::slot() { return &bytes_; }

void PixelBuffer::v_adoptHost(std::uint8_t* bytes) {
    v_release();
    bytes_ = bytes;
    hostOwned_ = true;
}

void PixelBuffer::v_release() {
    if (bytes_ && hostOwned_)
        dlmSystem_mdlFree(bytes_);
    else
        std::free(bytes_);
    bytes_ = nullptr;
    hostOwned_ = false;
}

std::uint8_t* pv_bitmapAlloc(int length) {
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    const std::size_t bytes = std::size_t(std::max(length, 1));
    if (bytes < 2 * kHugePage) return static_cast<std::uint8_t*>(std::calloc(bytes, 1));
    // First touches of a fresh half-sheet buffer cost one fault per page: huge pages make them few.
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    auto* p = static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, rounded));
    if (p == nullptr) return nullptr;
    v_hostHugePageHint(p, rounded);
    std::memset(p, 0, bytes);
    return p;
}

int j_bitmapBytes(const BitmapSize* size) {
    const RasterTarget* target = currentTarget();
    return target ? mdlImage_memorySize(size, static_cast<int>(target->imageFormat)) : 0;
}

int j_bitmapRead(std::uint8_t** bytes, PixelFormat* format, const PixelBlock* block, BitmapSize* size) {
    RasterTarget* target = currentTarget();
    if (target == nullptr) return ERROR;
    size->width = static_cast<std::int32_t>(block->width);
    size->height = static_cast<std::int32_t>(block->height);
    const int length = j_bitmapBytes(size);
    if (*bytes == nullptr) *bytes = pv_bitmapAlloc(length);
    if (*bytes == nullptr) {
        v_hostErrorReport(MDLERR_INSFMEMORY);
        return MDLERR_INSFMEMORY;
    }
    const int status = mdlRaster_bitmapGet(*bytes, length, format, block, size, currentRaster());
    v_hostErrorReport(status);
    if (target->transferColorMode == IMAGECOLOR_256Colors && !target->hasPalette && format->paletteCount >= 1) {
        const int count = std::min(format->paletteCount, 256);
        std::memcpy(target->palette, format->palette, size_t(count) * 3);
        target->paletteCount = count;
        target->hasPalette = 1;
    }
    return status;
}

int j_bitmapWrite(std::uint8_t* bytes, PixelFormat* format, const PixelBlock* block, const BitmapSize* size) {
    if (bytes == nullptr || currentTarget() == nullptr) return ERROR;
    const RasterTarget& target = *currentTarget();
    const int length = j_bitmapBytes(size);
    if (target.colorMode == IMAGECOLOR_Monochrome && (target.writeInverts != 0) != despeckling())
        invertBytes(bytes, length);
    j_rasterBackup(true, target.filePath, nullptr);
    if (format->colorMode == IMAGECOLOR_MonochromeAlt) format->colorMode = IMAGECOLOR_Monochrome;
    const int status = mdlRaster_bitmapSet(bytes, length, format, block, size, currentRaster(), RASTER_OPTION_UNDOABLE);
    v_hostErrorReport(status);
    return status;
}

void v_bitmapNewCanvas(std::uint8_t** bytes, const BitmapSize* size) {
    *bytes = nullptr;
    if (currentTarget() == nullptr) return;
    const RasterTarget& target = *currentTarget();
    const int length = j_bitmapBytes(size);
    *bytes = pv_bitmapAlloc(length);
    if (*bytes == nullptr) return;
    const t_globals& g = s__globals;
    if (target.imageFormat == IMAGEFORMAT_RGB) {
        const std::uint8_t rgb[3] = {
            g.CanvasAuto ? target.bgColor[0] : g.CanvasColor.red,
            g.CanvasAuto ? target.bgColor[1] : g.CanvasColor.green,
            g.CanvasAuto ? target.bgColor[2] : g.CanvasColor.blue,
        };
        for (int i = 0; i + 2 < length; i += 3) std::memcpy(*bytes + i, rgb, 3);
        return;
    }
    if (!target.hasPalette) return;
    const std::uint8_t value = g.CanvasAuto ? target.bgIndex : static_cast<std::uint8_t>(g.CanvasColorIndex & 0xFF);
    std::memset(*bytes, value, size_t(length));
}

void v_bitmapCopy(std::uint8_t** copy, const std::uint8_t* bytes, const BitmapSize* size) {
    if (copy == nullptr || bytes == nullptr) return;
    const int length = j_bitmapBytes(size);
    *copy = static_cast<std::uint8_t*>(std::malloc(std::max(length, 1)));
    if (*copy) std::memcpy(*copy, bytes, size_t(length));
}

int j_bitmapMerge(std::uint8_t* dst, const std::uint8_t* src, const RasterTarget* srcTarget, const BitmapSize* size) {
    if (dst == nullptr || src == nullptr || currentTarget() == nullptr) return ERROR;
    const RasterTarget& target = *currentTarget();
    if (srcTarget == nullptr) srcTarget = &target;
    const int length = j_bitmapBytes(size);
    switch (target.bitsPerPixel) {
    case 1:
        for (int i = 0; i < length; ++i) dst[i] |= src[i];
        break;
    case 8:
        for (int i = 0; i < length; ++i) {
            if (!target.bgDominant || dst[i] == target.bgIndex) dst[i] = src[i];
        }
        break;
    case 24:
        for (int i = 0; i + 2 < length; i += 3) {
            const bool replace = !target.bgDominant ||
                                 (isBackground(dst + i, target.bgColor) && !isBackground(src + i, srcTarget->bgColor));
            if (replace) std::memcpy(dst + i, src + i, 3);
        }
        break;
    default:
        break;
    }
    return SUCCESS;
}

int j_bitmapFillPolygon(std::uint8_t* bytes, const BitmapSize* size, const DPoint2d* points, int count, int outside) {
    if (bytes == nullptr || currentTarget() == nullptr) return ERROR;
    const RasterTarget& target = *currentTarget();
    const t_globals& g = s__globals;
    int status = SUCCESS;
    if (target.bitsPerPixel == 24) {
        const RGBColorDef colour = g.CanvasAuto
                                       ? RGBColorDef{target.bgColor[0], target.bgColor[1], target.bgColor[2]}
                                       : RGBColorDef{g.CanvasColor.red, g.CanvasColor.green, g.CanvasColor.blue};
        const size_t planeBytes = size_t(std::max(size->width, 0)) * size_t(std::max(size->height, 0)) * 3;
        PixelBuffer planes(static_cast<std::uint8_t*>(std::malloc(std::max<size_t>(planeBytes, 1))));
        if (!planes) {
            status = MDLERR_INSFMEMORY;
        } else {
            status = mdlImage_RGBToRGBSeparate(planes.get(), bytes, size, int(target.colorMode));
            if (status == SUCCESS)
                status = mdlImage_setRGBPolygon(planes.get(), nullptr, size, points, count, outside, &colour);
            if (status == SUCCESS) status = mdlImage_RGBSeparateToRGB(bytes, planes.get(), size, int(target.colorMode));
        }
    } else {
        int value = 0;
        if (target.bitsPerPixel == 1)
            value = despeckling() ? 255 : 0;
        else
            value = g.CanvasAuto ? target.bgIndex : g.CanvasColorIndex;
        status = mdlImage_setMapPolygon(bytes, nullptr, size, int(target.imageFormat), points, count, outside, value);
    }
    v_hostErrorReport(status);
    return status;
}

int j_polarityDetect(DgnRasterP raster, RasterTarget* target) {
    if (target->statsValid) return SUCCESS;
    // The clip masks taken off for the sample are this raster's, whichever raster the edit is on.
    EditScope scope(raster, target);
    target->backgroundBlack = 0;
    target->writeInverts = 0;
    PixelFormat format = formatOf(IMAGECOLOR_Monochrome);
    v_undoGroupStart();

    int status = SUCCESS;
    if (!s__globals.HostVersion89 && target->fileFormat == IMAGEFILE_CIT) {
        target->backgroundBlack = 1;
        neutralReadBegin(raster, target);
    } else {
        BitmapSize size{};
        const PixelBlock block = sampleBlock(*target, &size);
        neutralReadBegin(raster, target);
        const int length = mdlImage_memorySize(&size, IMAGEFORMAT_BitMap);
        PixelBuffer sample(static_cast<std::uint8_t*>(std::calloc(std::max(length, 1), 1)));
        status = sample ? mdlRaster_bitmapGet(sample.get(), length, &format, &block, &size, raster) : MDLERR_INSFMEMORY;
        if (status == SUCCESS) {
            const std::uint32_t black = n_blackPixel(sample.get(), length);
            if (black > std::uint32_t(size.width) * std::uint32_t(size.height) - black) {
                target->backgroundBlack = 1;
                v_rasterDisplayMode(0, raster, target, "OOPS");
            }
        }
    }

    if (target->readOnly || status != SUCCESS) {
        neutralReadEnd(raster, target);
        v_undoGroupEnd();
        v_hostErrorReport(status);
        return status;
    }

    // Write-back probe: a block written unchanged must read back unchanged; a
    // host that inverts monochrome writes returns every byte inverted.
    BitmapSize probe{std::min(PROBE_SIDE, int(target->widthPx)), std::min(PROBE_SIDE, int(target->heightPx))};
    const int n = std::min(mdlImage_memorySize(&probe, IMAGEFORMAT_BitMap), PROBE_BYTES);
    const PixelBlock probeBlock{0, 0, double(probe.width), double(probe.height), 1};
    std::uint8_t first[PROBE_BYTES] = {}, second[PROBE_BYTES] = {}, third[PROBE_BYTES] = {};
    int differing = 0;
    status = mdlRaster_bitmapGet(first, n, &format, &probeBlock, &probe, raster);
    std::memcpy(second, first, sizeof first);
    if (status == SUCCESS) {
        status = mdlRaster_bitmapSet(second, n, &format, &probeBlock, &probe, raster, RASTER_OPTION_UNDOABLE);
        mdlRaster_bitmapGet(third, n, &format, &probeBlock, &probe, raster);
        for (int i = 0; i < n; ++i) differing += second[i] != third[i];
        if (n > 0 && differing == n) {
            target->writeInverts = 1;
            invertBytes(first, n);
            mdlRaster_bitmapSet(first, n, &format, &probeBlock, &probe, raster, RASTER_OPTION_UNDOABLE);
        }
    }
    neutralReadEnd(raster, target);
    v_undoGroupEnd();

    if (status != SUCCESS) {
        v_hostErrorReport(status);
        return status;
    }
    if (differing == 0 || differing == n) {
        target->statsValid = 1;
        return SUCCESS;
    }
    mdlUndo_undoActions(1);
    j_messageBox(MSGBOX_NOTICE,
                 "Sorry, PixelMend cannot recognize polarity of your raster. To help us improve PixelMend, please "
                 "send your raster to Tovane and we will try to fix this problem.",
                 ICON_ERROR);
    return ERROR;
}

void v_bgStatistics(DgnRasterP raster, RasterTarget* target) {
    if (target->statsValid) return;
    EditScope scope(raster, target);
    BitmapSize size{};
    const PixelBlock block = sampleBlock(*target, &size);
    const int length = mdlImage_memorySize(&size, int(target->imageFormat));
    v_undoGroupStart();
    neutralReadBegin(raster, target);
    PixelFormat format = formatOf(target->transferColorMode);
    PixelBuffer sample(static_cast<std::uint8_t*>(std::calloc(std::max(length, 1), 1)));
    if (sample && mdlRaster_bitmapGet(sample.get(), length, &format, &block, &size, raster) == SUCCESS) {
        if (target->bitsPerPixel == 8)
            target->bgDominant = std::uint32_t(j_getBgColor(&target->bgIndex, sample.get(), length, 8));
        else
            target->bgDominant = std::uint32_t(j_getBgColor(target->bgColor, sample.get(), length, 24));
    }
    neutralReadEnd(raster, target);
    sample.v_release();
    v_undoGroupEnd();
    target->statsValid = 1;
}

bool b_dominantValue(const std::uint32_t* histogram, std::uint8_t* value) {
    std::uint64_t total = 0;
    int best = 0;
    for (int bin = 0; bin < 256; ++bin) {
        total += histogram[bin];
        if (histogram[bin] > histogram[best]) best = bin;
    }
    *value = static_cast<std::uint8_t>(best);
    return double(histogram[best]) > 0.5 * double(total);
}

extern "C" int j_getBgColor(std::uint8_t* colour, const std::uint8_t* bytes, std::int32_t length,
                            std::int32_t bitsPerPixel) {
    if (bytes == nullptr || length < 0) return 0;
    if (bitsPerPixel == 8) {
        std::uint32_t histogram[256] = {};
        for (std::int32_t i = 0; i < length; ++i) ++histogram[bytes[i]];
        return b_dominantValue(histogram, colour) ? 1 : 0;
    }
    if (bitsPerPixel != 24) return 0;
    std::uint32_t histogram[3][256] = {};
    for (std::int32_t i = 0; i + 2 < length; i += 3) {
        for (int c = 0; c < 3; ++c) ++histogram[c][bytes[i + c]];
    }
    for (int c = 0; c < 3; ++c) b_dominantValue(histogram[c], &colour[c]);
    std::uint32_t matching = 0;
    for (std::int32_t i = 0; i + 2 < length; i += 3) matching += isBackground(bytes + i, colour);
    return double(matching) > double(length) * 0.5 * (1.0 / 3.0) ? 1 : 0;
}

extern "C" std::uint32_t n_blackPixel(const std::uint8_t* bytes, std::int32_t length) {
    if (bytes == nullptr || length <= 0) return 0;
    std::uint32_t count = 0;
    for (std::int32_t i = 0; i < length; ++i) count += static_cast<std::uint32_t>(__builtin_popcount(bytes[i]));
    return count;
}
