// Raster services of the host: the raster collection of the active model, file
// information, georeference, rendering, clip masks, pixels and file life cycle.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "subhost/host.h"
#include "subhost/raster/raster.h"
#include "subhost/state.h"
#include "subhost/undo.h"

using subhost::raster::Polygon;
using subhost::raster::rasterState;
using namespace subhost::hosterrors;
using subhost::hostFail;

namespace {

bool valid(DgnRasterP raster) {
    if (raster == nullptr) return false;
    for (const auto& r : rasterState().rasters) {
        if (r.get() == raster) return true;
    }
    return false;
}

// Records an undoable change of an attachment's property: apply now, put back on undo.
template <typename T>
void changeUndoably(DgnRasterP raster, T DgnRaster::*member, T value, int option, const char* what) {
    T before = raster->*member;
    raster->*member = value;
    if (option == RASTER_OPTION_UNDOABLE) {
        subhost::undo::record([raster, member, before] { raster->*member = before; },
                              [raster, member, value] { raster->*member = value; }, what);
    }
}

MSElementDescr* descriptorOf(const Polygon& polygon) {
    auto descriptor = std::make_unique<MSElementDescr>();
    descriptor->points = polygon;
    return descriptor.release();
}

nlohmann::json polygonEvent(const Polygon& polygon) {
    nlohmann::json j = nlohmann::json::array();
    for (const DPoint3d& p : polygon) j.push_back({p.x, p.y});
    return j;
}

// Drops the attachment's file: written back first when changed; when no other attachment holds
// the file, it is closed (its image kept for a re-open only while the disk holds what it shows).
void releaseFile(DgnRasterP raster) {
    if (!raster->file) return;
    subhost::raster::writeBack(*raster->file);
    auto& files = rasterState().files;
    std::shared_ptr<subhost::raster::RasterFile> file = std::move(raster->file);
    if (file.use_count() > 2) return;
    files.erase(std::remove(files.begin(), files.end(), file), files.end());
    subhost::raster::closeFile(std::move(file));  // kept decoded for a re-open of the unchanged file
}

}  // namespace

DgnRasterCollection DgnRasterCollection::GetRasters(DgnModelRefP) {
    DgnRasterCollection collection;
    for (const auto& r : rasterState().rasters) {
        if (r->attached) collection.rasters_.push_back(r.get());
    }
    return collection;
}

extern "C" {

DgnRasterP mdlRaster_viewFindRaster(const DPoint3d* point, int view) {
    if (point == nullptr || view < 0 || view > 7) return nullptr;
    // The last attached raster is drawn on top, so it wins where rasters overlap.
    auto& rasters = rasterState().rasters;
    for (auto it = rasters.rbegin(); it != rasters.rend(); ++it) {
        DgnRaster& r = **it;
        if (!r.attached || !r.file) continue;
        const DPoint3d px = subhost::raster::designToPixel(r, *point);
        if (px.x >= 0 && px.y >= 0 && px.x < r.file->info.width && px.y < r.file->info.height) return &r;
    }
    return nullptr;
}

int mdlRaster_fileInfoGet(RasterFileInfo* info, DgnRasterP raster) {
    if (!valid(raster) || info == nullptr) return hostFail(HOSTERR_BadArgument);
    *info = RasterFileInfo{};
    const std::wstring path(raster->path.begin(), raster->path.end());
    std::wcsncpy(info->fullPath, path.c_str(), MAXFILELENGTH - 1);
    info->readOnly = subhost::raster::isReadOnly(*raster);
    // A file removed or made unreachable since it was attached shows as read-only, and the
    // application's box says only that: the message centre says which file and why.
    struct stat st {};
    if (!raster->readOnlyFlag && ::stat(raster->path.c_str(), &st) != 0) {
        const int code = errno;
        subhost::recordEvent(
            {{"event", "messageCenter"},
             {"priority", 10},
             {"brief",
              "Cannot open raster file \"" + raster->path + "\": " +
                  (code == ENOENT
                       ? std::string("the file does not exist; it was removed or renamed after it was attached")
                       : std::string(std::strerror(code)))},
             {"detail", "while looking up the attached raster file for an edit"}});
    }
    if (!raster->file) {
        std::string error;
        auto file = subhost::raster::openFile(raster->path, &error);
        if (!file) {
            // The application's own box for this failure is fixed; the message centre says which file and why.
            subhost::recordEvent({{"event", "messageCenter"},
                                  {"priority", 10},
                                  {"brief", error},
                                  {"detail", "while opening the attached raster file again for an edit"}});
            return hostFail(HOSTERR_FileOpen);
        }
        raster->file = file;
    }
    const auto& fi = raster->file->info;
    info->fileFormat = int(fi.format);
    info->compression = int(fi.compression);
    info->colorMode = int(fi.mode);
    info->widthPx = fi.width;
    info->heightPx = fi.height;
    return SUCCESS;
}

int mdlRaster_geoReferenceInfoGet(RasterGeoReference* geo, DgnRasterP raster) {
    if (!valid(raster) || geo == nullptr) return hostFail(HOSTERR_BadArgument);
    *geo = raster->geo;
    return SUCCESS;
}

int mdlRaster_geoReferenceInfoSet(const RasterGeoReference* geo, DgnRasterP raster, int option) {
    if (!valid(raster) || geo == nullptr) return hostFail(HOSTERR_BadArgument);
    changeUndoably(raster, &DgnRaster::geo, *geo, option, "georeference");
    return SUCCESS;
}

int mdlRaster_renderingInfoGet(RasterRenderingInfo* rendering, DgnRasterP raster) {
    if (!valid(raster) || rendering == nullptr) return hostFail(HOSTERR_BadArgument);
    *rendering = raster->rendering;
    return SUCCESS;
}

int mdlRaster_renderingInfoSet(const RasterRenderingInfo* rendering, DgnRasterP raster, int option) {
    if (!valid(raster) || rendering == nullptr) return hostFail(HOSTERR_BadArgument);
    changeUndoably(raster, &DgnRaster::rendering, *rendering, option, "rendering");
    return SUCCESS;
}

int mdlRaster_extendedInfoGet(RasterExtendedInfo* info, DgnRasterP raster) {
    if (!valid(raster) || info == nullptr) return hostFail(HOSTERR_BadArgument);
    *info = raster->extended;
    return SUCCESS;
}

int mdlRaster_extendedInfoSet(const RasterExtendedInfo* info, DgnRasterP raster, int option) {
    if (!valid(raster) || info == nullptr) return hostFail(HOSTERR_BadArgument);
    changeUndoably(raster, &DgnRaster::extended, *info, option, "extended information");
    return SUCCESS;
}

int mdlRaster_paletteGet(ColorPaletteEntry* palette, DgnRasterP raster) {
    if (!valid(raster) || palette == nullptr || !raster->file) return hostFail(HOSTERR_BadArgument);
    // The palette is part of the header read when the file was opened: no pixels are decoded for it.
    const auto& info = raster->file->info;
    for (int i = 0; i < 256; ++i) {
        palette[i] = ColorPaletteEntry{info.palette[std::size_t(i)][0], info.palette[std::size_t(i)][1],
                                       info.palette[std::size_t(i)][2]};
    }
    return SUCCESS;
}

int mdlRaster_bitmapGet(std::uint8_t* buffer, int length, PixelFormat* format, const PixelBlock* block,
                        const BitmapSize* size, DgnRasterP raster) {
    if (!valid(raster) || buffer == nullptr || format == nullptr || block == nullptr || size == nullptr)
        return hostFail(HOSTERR_BadArgument);
    return subhost::raster::getBlock(*raster, buffer, length, format, *block, *size);
}

int mdlRaster_bitmapSet(const std::uint8_t* buffer, int length, const PixelFormat* format, const PixelBlock* block,
                        const BitmapSize* size, DgnRasterP raster, int) {
    if (!valid(raster) || buffer == nullptr || format == nullptr || block == nullptr || size == nullptr)
        return hostFail(HOSTERR_BadArgument);
    if (subhost::raster::isReadOnly(*raster)) return hostFail(HOSTERR_ReadOnly);
    return subhost::raster::setBlock(*raster, buffer, length, *format, *block, *size);
}

int mdlRaster_clipMaskCount(int* count, DgnRasterP raster) {
    if (count == nullptr) return hostFail(HOSTERR_BadArgument);
    *count = 0;
    if (!valid(raster)) return hostFail(HOSTERR_BadArgument);
    *count = int(raster->clipMasks.size());
    return SUCCESS;
}

int mdlRaster_clipMaskGet(MSElementDescr** mask, int index, int, DgnRasterP raster) {
    if (!valid(raster) || mask == nullptr) return hostFail(HOSTERR_BadArgument);
    if (index < 0 || std::size_t(index) >= raster->clipMasks.size()) return hostFail(HOSTERR_NoClipMask);
    *mask = descriptorOf(raster->clipMasks[std::size_t(index)]);
    return SUCCESS;
}

int mdlRaster_clipMaskRemove(int index, DgnRasterP raster, int option) {
    if (!valid(raster)) return hostFail(HOSTERR_BadArgument);
    if (index < 0 || std::size_t(index) >= raster->clipMasks.size()) return hostFail(HOSTERR_NoClipMask);
    auto removed = std::make_shared<const Polygon>(std::move(raster->clipMasks[std::size_t(index)]));
    raster->clipMasks.erase(raster->clipMasks.begin() + index);
    // Undo keeps the one mask, not the list: taking many masks off costs time and memory in their number.
    if (option == RASTER_OPTION_UNDOABLE)
        subhost::undo::record(
            [raster, index, removed] { raster->clipMasks.insert(raster->clipMasks.begin() + index, *removed); },
            [raster, index] { raster->clipMasks.erase(raster->clipMasks.begin() + index); }, "clip mask");
    return SUCCESS;
}

int mdlRaster_clipMaskAdd(MSElementDescr* mask, int, DgnRasterP raster, int option) {
    if (!valid(raster) || mask == nullptr || mask->points.size() < 3) return hostFail(HOSTERR_BadArgument);
    raster->clipMasks.push_back(mask->points);
    if (option == RASTER_OPTION_UNDOABLE) {
        auto added = std::make_shared<const Polygon>(mask->points);
        subhost::undo::record([raster] { raster->clipMasks.pop_back(); },
                              [raster, added] { raster->clipMasks.push_back(*added); }, "clip mask");
    }
    subhost::recordEvent({{"event", "clipMaskAdded"}, {"path", raster->path}, {"polygon", polygonEvent(mask->points)}});
    return SUCCESS;
}

int mdlRaster_clipBoundaryGet(MSElementDescr** boundary, int, DgnRasterP raster) {
    if (!valid(raster) || boundary == nullptr) return hostFail(HOSTERR_BadArgument);
    *boundary = nullptr;
    if (!raster->clipBoundary) return hostFail(HOSTERR_NoClipBoundary);
    *boundary = descriptorOf(*raster->clipBoundary);
    return SUCCESS;
}

int mdlRaster_clipBoundarySet(MSElementDescr* boundary, int, DgnRasterP raster, int option) {
    if (!valid(raster)) return hostFail(HOSTERR_BadArgument);
    std::optional<Polygon> value;
    if (boundary) {
        if (boundary->points.size() < 3) return hostFail(HOSTERR_BadArgument);
        value = boundary->points;
    }
    changeUndoably(raster, &DgnRaster::clipBoundary, value, option, "clip boundary");
    subhost::recordEvent({{"event", "clipBoundarySet"},
                          {"path", raster->path},
                          {"polygon", value ? polygonEvent(*value) : nlohmann::json(nullptr)}});
    return SUCCESS;
}

int mdlRaster_fileClose(DgnRasterP raster, int) {
    if (!valid(raster)) return hostFail(HOSTERR_BadArgument);
    releaseFile(raster);
    return SUCCESS;
}

int mdlRaster_fileSourceOpen(DgnRasterP raster, int) {
    if (!valid(raster)) return hostFail(HOSTERR_BadArgument);
    if (raster->file) return SUCCESS;
    std::string error;
    raster->file = subhost::raster::openFile(raster->path, &error);
    if (!raster->file) {
        subhost::recordEvent({{"event", "messageCenter"}, {"priority", 10}, {"brief", error}, {"detail", ""}});
        return hostFail(HOSTERR_FileOpen);
    }
    return SUCCESS;
}

int mdlRaster_fileReload(DgnRasterP raster, int option) {
    if (!valid(raster)) return hostFail(HOSTERR_BadArgument);
    std::optional<subhost::imagefile::ImageInfo> before;
    if (raster->file) before = raster->file->info;
    releaseFile(raster);
    const int status = mdlRaster_fileSourceOpen(raster, option);
    // The reloaded file is what is on disk now; an application that read the attachment's size
    // before reloading works with a picture that is no longer there, so the change is said.
    if (status == SUCCESS && before)
        subhost::raster::reportChangedFile(raster->path, *before, raster->file->info,
                                           "while reloading the attached raster file for an edit");
    return status;
}

void mdlElmdscr_freeAll(MSElementDescr** descriptor) {
    if (descriptor == nullptr) return;
    std::unique_ptr<MSElementDescr> owned(*descriptor);
    *descriptor = nullptr;
}

void dlmSystem_mdlFree(void* buffer) { std::free(buffer); }

}  // extern "C"

namespace {

RasterRenderingInfo defaultRenderingInfo() {
    RasterRenderingInfo r{};
    r.background[0] = r.background[1] = r.background[2] = 255;
    r.contrastFactor = 1.0;
    return r;
}

std::string narrow(WCharCP text) {
    std::string out;
    for (const wchar_t* p = text; p && *p; ++p) out.push_back(*p < 256 ? char(*p) : '?');
    return out;
}

// Attaching and detaching change the design, so undo always takes them back
// (whatever the call's option), in the undo group of the edit that made them.
// The file the attachment sees now is kept: whichever way the step is taken, the
// attachment is attached again only with the file it had at this step.
void setAttached(DgnRasterP raster, bool attached) {
    raster->attached = attached;
    auto kept = std::make_shared<const subhost::raster::KeptFile>(raster->path);
    auto attach = [raster, kept] {
        kept->restore();
        raster->attached = true;
        if (!raster->file) {
            std::string error;
            raster->file = subhost::raster::openFile(raster->path, &error);
        }
    };
    auto detach = [raster] { raster->attached = false; };
    if (attached)
        subhost::undo::record(detach, attach, "attach");
    else
        subhost::undo::record(attach, detach, "detach");
    subhost::recordEvent({{"event", attached ? "rasterAttached" : "rasterDetached"}, {"path", raster->path}});
}

}  // namespace

extern "C" {

int mdlRaster_fileOpen(DgnRasterP* raster, WCharCP path, DgnModelRefP, int mode, int) {
    if (raster == nullptr || path == nullptr) return hostFail(HOSTERR_BadArgument);
    auto handle = std::make_unique<DgnRaster>();
    handle->path = std::filesystem::absolute(narrow(path)).lexically_normal().string();
    std::string error;
    handle->file = subhost::raster::openFile(handle->path, &error);
    if (!handle->file) {
        subhost::recordEvent({{"event", "messageCenter"}, {"priority", 10}, {"brief", error}, {"detail", ""}});
        return hostFail(HOSTERR_FileOpen);
    }
    handle->geo.extentX = handle->file->info.width;
    handle->geo.extentY = handle->file->info.height;
    handle->rendering = defaultRenderingInfo();
    handle->readOnlyFlag = mode == RASTER_OPEN_READONLY;
    *raster = handle.get();
    rasterState().rasters.push_back(std::move(handle));
    return SUCCESS;
}

int mdlRaster_attach(DgnRasterP raster, int) {
    if (!valid(raster)) return hostFail(HOSTERR_BadArgument);
    if (raster->attached) return SUCCESS;
    // An attachment goes on top of the others: last in the collection.
    auto& rasters = rasterState().rasters;
    auto it = std::find_if(rasters.begin(), rasters.end(), [raster](const auto& r) { return r.get() == raster; });
    std::rotate(it, it + 1, rasters.end());
    setAttached(raster, true);
    return SUCCESS;
}

int mdlRaster_detach(DgnRasterP raster, int) {
    if (!valid(raster)) return hostFail(HOSTERR_BadArgument);
    if (raster->file) subhost::raster::writeBack(*raster->file);
    if (raster->attached) setAttached(raster, false);
    return SUCCESS;
}

int mdlRaster_fileExport(WCharCP path, const RasterFileFormat* format, const RasterColorMode* colorMode,
                         const RasterCompressionType* compression, double, DgnRasterP source) {
    namespace img = subhost::imagefile;
    if (!valid(source) || path == nullptr || format == nullptr || colorMode == nullptr || !source->file)
        return hostFail(HOSTERR_BadArgument);
    std::string error;
    if (!subhost::raster::ensureDecoded(*source->file, &error)) return hostFail(HOSTERR_RasterDecode);
    img::Image image = *source->file->image;
    const img::ColorMode wanted = img::ColorMode(colorMode->mode);
    if (wanted != image.mode) {
        // The one conversion exports need: 32-bit colour to 24-bit colour, dropping alpha.
        if (!(image.mode == img::ColorMode::Rgba && wanted == img::ColorMode::Rgb))
            return hostFail(HOSTERR_ColorConversion);
        img::ImageResult rgb = img::makeImage(image.width, image.height, img::ColorMode::Rgb);
        if (!rgb.ok) return hostFail(HOSTERR_OutOfMemory);
        const std::size_t n = std::size_t(image.width) * std::size_t(image.height);
        for (std::size_t i = 0; i < n; ++i) std::memcpy(&rgb.image.pixels[3 * i], &image.pixels[4 * i], 3);
        rgb.image.compression = image.compression;
        rgb.image.resolution = image.resolution;
        image = std::move(rgb.image);
    }
    if (compression) image.compression = img::Compression(compression->compression);
    const std::string out = narrow(path);
    const img::WriteStatus status = img::createImageFile(out, img::FileFormat(format->format), image);
    if (status.status == img::kStatusCannotWriteFormat) return MDLERR_CANNOTWRITEFORMAT;
    if (status.status != img::kStatusOk) {
        subhost::recordEvent({{"event", "messageCenter"}, {"priority", 10}, {"brief", status.error}, {"detail", ""}});
        return hostFail(HOSTERR_FileWrite);
    }
    subhost::recordEvent({{"event", "fileWritten"}, {"path", out}});
    return SUCCESS;
}

}  // extern "C"
