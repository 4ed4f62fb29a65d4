// Raster attachments of the design: reading them from the design file, writing
// them back, open raster files and their write-back.
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/mdlgeom.h"
#include "host/mdlsystem.h"
#include "subhost/host.h"
#include "subhost/raster/raster.h"
#include "subhost/state.h"
#include "subhost/undo.h"

namespace subhost::raster {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxAttachments = 1000;
constexpr std::size_t kMaxPolygonPoints = 5000;
constexpr std::size_t kMaxClipMasks = 10000;

std::string absolutePath(const std::string& file, const std::string& designDir) {
    fs::path p(file);
    if (p.is_relative()) p = fs::path(designDir) / p;
    return p.lexically_normal().string();
}

std::string relativePath(const std::string& file, const std::string& designDir) {
    std::error_code ec;
    const fs::path rel = fs::path(file).lexically_relative(designDir);
    if (rel.empty() || ec) return file;
    return rel.string();
}

double number(const nlohmann::json& j, const char* key, double fallback) {
    if (!j.contains(key)) return fallback;
    if (!j[key].is_number()) throw std::runtime_error(std::string("\"") + key + "\" must be a number");
    return j[key].get<double>();
}

// The true-or-false value of key in j, fallback when j has no such key; throws naming the key otherwise.
bool flag(const nlohmann::json& j, const char* key, bool fallback, const char* where = "") {
    if (!j.contains(key)) return fallback;
    if (!j[key].is_boolean())
        throw std::runtime_error(std::string(where) + "\"" + key + "\" must be true or false, not " + j[key].dump());
    return j[key].get<bool>();
}

DPoint3d point(const nlohmann::json& j, const char* what) {
    if (!j.is_array() || j.size() < 2 || j.size() > 3)
        throw std::runtime_error(std::string(what) + " must be [x, y] or [x, y, z]");
    for (const auto& v : j) {
        if (!v.is_number()) throw std::runtime_error(std::string(what) + " must hold numbers");
    }
    return DPoint3d{j[0].get<double>(), j[1].get<double>(), j.size() > 2 ? j[2].get<double>() : 0.0};
}

Polygon polygon(const nlohmann::json& j, const char* what) {
    if (!j.is_array() || j.size() < 3 || j.size() > kMaxPolygonPoints)
        throw std::runtime_error(std::string(what) + " must be a list of 3 to 5000 points");
    Polygon poly;
    for (const auto& p : j) poly.push_back(point(p, what));
    return poly;
}

void colour(const nlohmann::json& j, const char* key, std::uint8_t* rgb) {
    if (!j.contains(key)) return;
    const auto& c = j[key];
    if (!c.is_array() || c.size() != 3)
        throw std::runtime_error(std::string("rendering \"") + key + "\" must be [r, g, b]");
    for (int i = 0; i < 3; ++i) {
        if (!c[i].is_number_integer() || c[i].get<int>() < 0 || c[i].get<int>() > 255)
            throw std::runtime_error(std::string("rendering \"") + key + "\" values must be 0-255");
        rgb[i] = std::uint8_t(c[i].get<int>());
    }
}

nlohmann::json pointJson(const DPoint3d& p) { return nlohmann::json::array({p.x, p.y, p.z}); }

nlohmann::json polygonJson(const Polygon& poly) {
    nlohmann::json j = nlohmann::json::array();
    for (const DPoint3d& p : poly) j.push_back(pointJson(p));
    return j;
}

RasterRenderingInfo defaultRendering() {
    RasterRenderingInfo r{};
    r.background[0] = r.background[1] = r.background[2] = 255;
    r.contrastFactor = 1.0;
    return r;
}

// One attachment from its design entry; throws with the reason when the entry is malformed.
std::unique_ptr<DgnRaster> attachmentFrom(const nlohmann::json& entry, const std::string& designDir) {
    if (!entry.is_object()) throw std::runtime_error("a raster entry must be an object");
    if (!entry.contains("file") || !entry["file"].is_string())
        throw std::runtime_error("a raster entry needs \"file\"");
    // A file name is handed to the system as a C string: a NUL inside would silently cut it short.
    const std::string& name = entry["file"].get_ref<const std::string&>();
    if (name.empty() || name.find('\0') != std::string::npos)
        throw std::runtime_error("\"file\" must be a file name without NUL characters");
    auto raster = std::make_unique<DgnRaster>();
    raster->path = absolutePath(entry["file"].get<std::string>(), designDir);
    std::string error;
    raster->file = openFile(raster->path, &error);
    if (!raster->file) throw std::runtime_error(error);
    const auto& info = raster->file->info;
    raster->geo.origin = entry.contains("origin") ? point(entry["origin"], "\"origin\"") : DPoint3d{0, 0, 0};
    raster->geo.extentX = info.width;
    raster->geo.extentY = info.height;
    if (entry.contains("extent")) {
        const DPoint3d e = point(entry["extent"], "\"extent\"");
        if (!(e.x > 0) || !(e.y > 0)) throw std::runtime_error("\"extent\" must be positive");
        raster->geo.extentX = e.x;
        raster->geo.extentY = e.y;
    }
    raster->geo.rotation = number(entry, "rotation", 0.0);
    raster->geo.affinity = number(entry, "affinity", 0.0);
    if (std::fabs(raster->geo.affinity) >= 89.0) throw std::runtime_error("\"affinity\" must be within 89 degrees");
    raster->readOnlyFlag = flag(entry, "readOnly", false);
    raster->rendering = defaultRendering();
    if (entry.contains("rendering")) {
        const auto& r = entry["rendering"];
        if (!r.is_object()) throw std::runtime_error("\"rendering\" must be an object");
        colour(r, "foreground", raster->rendering.foreground);
        colour(r, "background", raster->rendering.background);
        raster->rendering.backgroundTransparent = flag(r, "transparentBackground", false, "rendering ") ? 1 : 0;
    }
    if (entry.contains("clipMasks")) {
        if (!entry["clipMasks"].is_array()) throw std::runtime_error("\"clipMasks\" must be a list of polygons");
        if (entry["clipMasks"].size() > kMaxClipMasks)
            throw std::runtime_error("\"clipMasks\" lists " + std::to_string(entry["clipMasks"].size()) +
                                     " masks; a raster may have at most " + std::to_string(kMaxClipMasks));
        for (const auto& m : entry["clipMasks"]) raster->clipMasks.push_back(polygon(m, "a clip mask"));
    }
    if (entry.contains("clipBoundary") && !entry["clipBoundary"].is_null())
        raster->clipBoundary = polygon(entry["clipBoundary"], "\"clipBoundary\"");
    if (entry.contains("extended")) {
        const auto& e = entry["extended"];
        if (!e.is_array() || e.size() > sizeof raster->extended.data)
            throw std::runtime_error("\"extended\" must be up to 64 bytes");
        for (std::size_t i = 0; i < e.size(); ++i) {
            if (!e[i].is_number_integer() || e[i].get<std::int64_t>() < 0 || e[i].get<std::int64_t>() > 255)
                throw std::runtime_error("\"extended\" must hold whole numbers from 0 to 255, not " + e[i].dump());
            raster->extended.data[i] = std::uint8_t(e[i].get<int>());
        }
    }
    raster->invertMonoWrites = flag(entry, "testInvertMonoWrites", false);
    raster->mixedMonoWrites = flag(entry, "testMixedMonoWrites", false);
    raster->attached = true;
    return raster;
}

}  // namespace

RasterState& rasterState() {
    static RasterState state;
    return state;
}

namespace {

// Takes a path, gives the kept closed file of it when the disk still holds the very version it
// was closed with (its image then is the file's); null otherwise, the kept file dropped.
std::shared_ptr<RasterFile> takeClosedFile(const std::string& path) {
    RasterState& s = rasterState();
    if (!s.closed || s.closed->path != path) return nullptr;
    std::shared_ptr<RasterFile> kept = std::move(s.closed);
    s.closed.reset();
    if (!diskStampOf(path).untouchedSince(s.closedStamp)) return nullptr;
    return kept;
}

}  // namespace

void closeFile(std::shared_ptr<RasterFile> file) {
    if (!file) return;
    RasterState& s = rasterState();
    const DiskStamp now = diskStampOf(file->path);
    const bool asOnDisk = !file->dirty && !file->touched && now.exists && now == file->read;
    if (asOnDisk) {
        s.closed = std::move(file);
        s.closedStamp = now;
    } else if (s.closed && s.closed->path == file->path) {
        s.closed.reset();
    }
}

void forgetClosedFile(const std::string& path) {
    RasterState& s = rasterState();
    if (s.closed && (path.empty() || s.closed->path == path)) s.closed.reset();
}

std::shared_ptr<RasterFile> openFile(const std::string& path, std::string* error) {
    for (const auto& f : rasterState().files) {
        if (f->path == path) return f;
    }
    if (std::shared_ptr<RasterFile> kept = takeClosedFile(path)) {
        rasterState().files.push_back(kept);
        return kept;
    }
    // Stamped before reading, as a decode is: a change while the header is read shows at a re-open.
    const DiskStamp stamp = diskStampOf(path);
    imagefile::InfoResult info = imagefile::readInfo(path);
    if (!info.ok) {
        *error = info.error;
        return nullptr;
    }
    auto file = std::make_shared<RasterFile>();
    file->path = path;
    file->info = info.info;
    file->read = stamp;
    rasterState().files.push_back(file);
    return file;
}

DiskStamp diskStampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return DiskStamp{true,
                     st.st_dev,
                     st.st_ino,
                     st.st_size,
                     st.st_mtim.tv_sec,
                     st.st_mtim.tv_nsec,
                     st.st_ctim.tv_sec,
                     st.st_ctim.tv_nsec};
}

namespace {

// Takes the header facts read when a file was attached and those of its decoded image, gives
// whether the file is no longer the picture the attachment describes.
bool sizeOrKindChanged(const imagefile::ImageInfo& attached, const imagefile::ImageInfo& now) {
    return attached.width != now.width || attached.height != now.height || attached.mode != now.mode ||
           attached.format != now.format;
}

// Takes header facts, gives them in words: "64 x 48 monochrome TIFF".
std::string describe(const imagefile::ImageInfo& info) {
    using imagefile::ColorMode;
    using imagefile::FileFormat;
    const char* mode = info.mode == ColorMode::Mono       ? "monochrome"
                       : info.mode == ColorMode::Palette4 ? "4-bit palette"
                       : info.mode == ColorMode::Palette8 ? "8-bit palette"
                       : info.mode == ColorMode::Grey8    ? "grey"
                       : info.mode == ColorMode::Rgb      ? "colour"
                       : info.mode == ColorMode::Rgba     ? "colour with alpha"
                                                          : "other";
    const char* format = info.format == FileFormat::Tiff   ? "TIFF"
                         : info.format == FileFormat::Png  ? "PNG"
                         : info.format == FileFormat::Jpeg ? "JPEG"
                         : info.format == FileFormat::Bmp  ? "BMP"
                         : info.format == FileFormat::Gif  ? "GIF"
                                                           : "file";
    return std::to_string(info.width) + " x " + std::to_string(info.height) + " " + mode + " " + format;
}

// Takes a configuration variable's name, gives its value, or the environment variable's of that
// name when the host defines none; nullopt when neither is set.
std::optional<std::string> configured(const char* name) {
    std::wstring value(4096, L'\0');
    if (mdlSystem_getCfgVar(value.data(), widen(name).c_str(), int(value.size())) == SUCCESS)
        return narrow(value.c_str());
    const char* environment = std::getenv(name);
    if (environment) return std::string(environment);
    return std::nullopt;
}

// Gives the read options the configuration sets: PXMEND_MAX_PIXELS (the pixel limit) and
// PXMEND_ACCEPT_DAMAGED (1 edits damaged files, 0 or unset refuses them); false with the
// reason for a value that is neither.
bool configuredReadOptions(imagefile::ReadOptions& options, std::string& why) {
    const std::optional<std::string> limit = configured("PXMEND_MAX_PIXELS");
    if (!imagefile::readOptionsFrom(limit ? limit->c_str() : nullptr, options, why)) return false;
    const std::string accept = configured("PXMEND_ACCEPT_DAMAGED").value_or("0");
    if (accept != "0" && accept != "1" && !accept.empty()) {
        why = "PXMEND_ACCEPT_DAMAGED must be 1 (edit damaged files) or 0, not \"" + accept + "\"";
        return false;
    }
    options.acceptDamaged = accept == "1";
    return true;
}

}  // namespace

bool reportChangedFile(const std::string& path, const imagefile::ImageInfo& attached, const imagefile::ImageInfo& now,
                       const std::string& doing) {
    if (!sizeOrKindChanged(attached, now)) return false;
    recordEvent({{"event", "messageCenter"},
                 {"priority", 10},
                 {"brief", "Raster file " + path + " changed since it was attached: it was a " + describe(attached) +
                               ", it is now a " + describe(now)},
                 {"detail", doing}});
    return true;
}

bool ensureDecoded(RasterFile& file, std::string* error) {
    if (file.image) return true;
    // Stamped before reading: a change while the file is read shows as a change at write-back.
    const DiskStamp stamp = diskStampOf(file.path);
    imagefile::ReadOptions options;
    std::string setting;
    imagefile::ImageResult result;
    if (configuredReadOptions(options, setting))
        result = imagefile::readImage(file.path, options);
    else
        result.error = "Cannot read raster file \"" + file.path + "\": " + setting;
    if (result.ok && sizeOrKindChanged(file.info, result.image)) {
        // Another program replaced the file since it was attached: its pixels are not the ones
        // the attachment describes, and an edit placed by the old size would land elsewhere.
        result.ok = false;
        result.error = "Cannot read raster file \"" + file.path + "\": it changed since it was attached (" +
                       describe(file.info) + " then, " + describe(result.image) + " now); attach it again";
    }
    if (!result.ok) {
        *error = result.error;
        recordEvent(
            {{"event", "messageCenter"},
             {"priority", 10},
             {"brief", result.error},
             {"detail", !result.damage.empty()
                            ? "the file's pixel data is damaged; with the configuration variable "
                              "PXMEND_ACCEPT_DAMAGED set to 1 (pixelmend --accept-damaged) it is edited all the "
                              "same, what could not be decoded filled with white"
                            : "while reading the pixels of the attached raster file " + file.path}});
        return false;
    }
    if (!result.damage.empty()) {
        // Accepted damage is said, never passed over: the user chose to edit what could be decoded.
        recordEvent({{"event", "rasterDamaged"}, {"path", file.path}, {"damage", result.damage}});
        recordEvent({{"event", "messageCenter"},
                     {"priority", 11},
                     {"brief", "Raster file " + file.path + " is damaged: " + result.damage},
                     {"detail",
                      "edited as PXMEND_ACCEPT_DAMAGED asks; what could not be decoded is white (in a "
                      "palette image the palette's lightest colour)"}});
    }
    file.image = std::move(result.image);
    file.info = *file.image;
    file.read = stamp;
    return true;
}

namespace {

// Test switch: PXMEND_TEST_CHANGE_BEFORE_WRITEBACK names a file whose bytes "another program" saves
// over the raster file (in place, same inode) just before a write-back looks at the disk.
void testChangeBeforeWriteBack(const std::string& path) {
    const char* theirs = std::getenv("PXMEND_TEST_CHANGE_BEFORE_WRITEBACK");
    if (theirs == nullptr || *theirs == '\0') return;
    std::ifstream in(theirs, std::ios::binary);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << in.rdbuf();
}

// A name beside path that nothing holds yet: "<stem>-conflict<ext>", then "-conflict2", ...
std::string conflictPath(const std::string& path) {
    const fs::path p(path);
    for (int n = 1;; ++n) {
        const std::string stem = p.stem().string() + "-conflict" + (n > 1 ? std::to_string(n) : "");
        const fs::path candidate = p.parent_path() / (stem + p.extension().string());
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate.string();
    }
}

// The file changed on disk since it was read: the edit goes into a new file beside it, and the
// other version stays where it is.
bool keepEditBeside(RasterFile& file) {
    const std::string kept = conflictPath(file.path);
    const imagefile::WriteStatus status = imagefile::writeImage(kept, *file.image);
    if (status.status != imagefile::kStatusOk) {
        recordEvent(
            {{"event", "messageCenter"},
             {"priority", 10},
             {"brief", "Raster file " + file.path +
                           " was changed or removed by another program since it was read; it is left as it is, and the "
                           "edit could not be kept beside it"},
             {"detail", status.error}});
        return false;
    }
    file.dirty = false;
    recordEvent({{"event", "fileWritten"}, {"path", kept}});
    recordEvent(
        {{"event", "messageCenter"},
         {"priority", 10},
         {"brief", "Raster file " + file.path +
                       " was changed or removed by another program since it was read; it is left as it is, and the "
                       "edit is kept in " +
                       kept},
         {"detail", "its size, modification time or inode differ from those of the version the host read"}});
    return false;
}

}  // namespace

bool writeBack(RasterFile& file) {
    if (!file.dirty || !file.image) return true;
    testChangeBeforeWriteBack(file.path);
    if (diskStampOf(file.path) != file.read) return keepEditBeside(file);
    // Only the rows the edits changed are coded anew where the file's coding allows; a file
    // marked changed with no rows said is written whole.
    const imagefile::WriteStatus status =
        imagefile::writeImageEdited(file.path, *file.image, file.changed.spans.empty() ? nullptr : &file.changed);
    if (status.status != imagefile::kStatusOk) {
        recordEvent({{"event", "messageCenter"},
                     {"priority", 10},
                     {"brief", "Unable to write raster file " + file.path},
                     {"detail", status.error}});
        return false;
    }
    file.dirty = false;
    file.touched = true;
    file.changed = {};
    file.read = diskStampOf(file.path);
    recordEvent({{"event", "fileWritten"}, {"path", file.path}});
    return true;
}

bool isReadOnly(const DgnRaster& raster) {
    if (raster.readOnlyFlag) return true;
    struct stat st {};
    if (::stat(raster.path.c_str(), &st) != 0) return true;
    return (st.st_mode & 0222) == 0;
}

DPoint3d designToPixel(const DgnRaster& raster, const DPoint3d& design) {
    const RasterFile* file = raster.file.get();
    const double w = file ? file->info.width : 1, h = file ? file->info.height : 1;
    RotMatrix r;
    mdlRMatrix_fromAngle(&r, raster.geo.rotation * fc_piover180);
    DPoint3d d{design.x - raster.geo.origin.x, design.y - raster.geo.origin.y, 0.0};
    mdlRMatrix_unrotatePoint(&d, &r);
    const double u = d.x / (raster.geo.extentX / w);
    const double v = d.y / (raster.geo.extentY / h);
    const double a = raster.geo.affinity * fc_piover180;
    return DPoint3d{std::tan(a) * v + u, v / std::cos(a), 0.0};
}

void loadAttachments(const nlohmann::json& rasters, const std::string& designDir) {
    if (!rasters.is_array()) {
        recordEvent({{"event", "rasterRefused"}, {"file", ""}, {"reason", "\"rasters\" must be a list"}});
        return;
    }
    RasterState& s = rasterState();
    std::size_t index = 0;
    for (const auto& entry : rasters) {
        if (index++ >= kMaxAttachments) {
            recordEvent({{"event", "rasterRefused"}, {"file", ""}, {"reason", "more than 1000 raster attachments"}});
            break;
        }
        const std::string file = entry.is_object() && entry.contains("file") && entry["file"].is_string()
                                     ? absolutePath(entry["file"].get<std::string>(), designDir)
                                     : std::string();
        try {
            s.rasters.push_back(attachmentFrom(entry, designDir));
            recordEvent({{"event", "rasterAttached"}, {"path", s.rasters.back()->path}});
        } catch (const std::exception& e) {
            recordEvent({{"event", "rasterRefused"}, {"file", file}, {"reason", e.what()}});
            recordEvent({{"event", "messageCenter"},
                         {"priority", 10},
                         {"brief", "Raster " + (file.empty() ? std::string("entry") : file) + " not attached"},
                         {"detail", e.what()}});
        }
    }
}

nlohmann::json saveAttachments(const std::string& designDir) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& r : rasterState().rasters) {
        if (!r->attached) continue;
        nlohmann::json e;
        e["file"] = relativePath(r->path, designDir);
        e["origin"] = pointJson(r->geo.origin);
        e["extent"] = nlohmann::json::array({r->geo.extentX, r->geo.extentY});
        e["rotation"] = r->geo.rotation;
        e["affinity"] = r->geo.affinity;
        e["readOnly"] = r->readOnlyFlag;
        e["rendering"] = {
            {"foreground", {r->rendering.foreground[0], r->rendering.foreground[1], r->rendering.foreground[2]}},
            {"background", {r->rendering.background[0], r->rendering.background[1], r->rendering.background[2]}},
            {"transparentBackground", r->rendering.backgroundTransparent != 0}};
        nlohmann::json masks = nlohmann::json::array();
        for (const Polygon& m : r->clipMasks) masks.push_back(polygonJson(m));
        e["clipMasks"] = masks;
        if (r->clipBoundary) e["clipBoundary"] = polygonJson(*r->clipBoundary);
        out.push_back(e);
    }
    return out;
}

nlohmann::json dumpRasters() {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : rasterState().rasters) {
        if (!r->attached) continue;
        nlohmann::json e;
        e["path"] = r->path;
        e["origin"] = pointJson(r->geo.origin);
        e["extent"] = nlohmann::json::array({r->geo.extentX, r->geo.extentY});
        e["rotation"] = r->geo.rotation;
        e["affinity"] = r->geo.affinity;
        e["readOnly"] = isReadOnly(*r);
        if (r->file) {
            const auto& info = r->file->info;
            e["format"] = int(info.format);
            e["compression"] = int(info.compression);
            e["colorMode"] = int(info.mode);
            e["width"] = info.width;
            e["height"] = info.height;
        } else {
            e["closed"] = true;
        }
        e["foreground"] = {r->rendering.foreground[0], r->rendering.foreground[1], r->rendering.foreground[2]};
        e["background"] = {r->rendering.background[0], r->rendering.background[1], r->rendering.background[2]};
        nlohmann::json masks = nlohmann::json::array();
        for (const Polygon& m : r->clipMasks) masks.push_back(polygonJson(m));
        e["clipMasks"] = masks;
        e["clipBoundary"] = r->clipBoundary ? polygonJson(*r->clipBoundary) : nlohmann::json(nullptr);
        list.push_back(e);
    }
    nlohmann::json event = {{"event", "rasters"}, {"rasters", list}};
    return event;
}

bool flushAll() {
    bool ok = true;
    for (const auto& f : rasterState().files) ok = writeBack(*f) && ok;
    return ok;
}

void closeAll() {
    flushAll();
    undo::clear();
    RasterState& s = rasterState();
    s.rasters.clear();
    s.files.clear();
    forgetClosedFile();
}

}  // namespace subhost::raster
