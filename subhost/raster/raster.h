// Inner state of the host's raster services: attachments of the active model,
// the open raster files with their decoded images, and the pixel transfer.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/mdlraster.h"
#include "subhost/elements.h"
#include "subhost/imagefile/imagefile.h"

namespace subhost::raster {

using Polygon = std::vector<DPoint3d>;

// What identifies one version of a file on disk: device, inode, size and modification time;
// and the time of its last status change (ctime), which every write also moves, even one that
// puts the old modification time back, but so do links and permission changes.
struct DiskStamp {
    bool exists = false;
    unsigned long long device = 0, inode = 0;
    long long size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
    long long changedSeconds = 0, changedNanoseconds = 0;
    // Takes another stamp, gives whether both are the same version by device, inode, size and
    // modification time (the status change time is not compared: a link made to keep the file
    // for undo moves it).
    bool operator==(const DiskStamp& o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modifiedSeconds == o.modifiedSeconds && modifiedNanoseconds == o.modifiedNanoseconds;
    }
    // Takes another stamp, gives whether nothing at all happened to the file in between: the
    // same version and the same status change time.
    bool untouchedSince(const DiskStamp& o) const {
        return *this == o && changedSeconds == o.changedSeconds && changedNanoseconds == o.changedNanoseconds;
    }
};

// The stamp of the file now at path (following links); exists false when there is none.
DiskStamp diskStampOf(const std::string& path);

// A raster file the host has open: its header, and its decoded image once pixels were asked for.
struct RasterFile {
    std::string path;
    imagefile::ImageInfo info;
    std::optional<imagefile::Image> image;  // decoded on first pixel access
    bool dirty = false;                     // pixels changed since the last write-back
    bool touched = false;                   // pixels changed or written since decoded: the image may not be the file's
    imagefile::g4::RowSpans changed;        // rows changed since the image's G4 code was read or written
    DiskStamp read;                         // the version on disk the header and image were read from (or last written)
};

}  // namespace subhost::raster

// One raster attachment; the handle the add-on holds.
struct DgnRaster {
    std::string path;  // full path of the attached file
    RasterGeoReference geo{};
    RasterRenderingInfo rendering{};
    RasterExtendedInfo extended{};
    bool readOnlyFlag = false;                       // attached read-only
    bool attached = false;                           // part of the model's raster collection
    std::deque<subhost::raster::Polygon> clipMasks;  // taken off at the front and put back at the end
    std::optional<subhost::raster::Polygon> clipBoundary;
    // Test switches: make monochrome writes land inverted, or inverted on every
    // second row (so that a write-back probe reads back mixed).
    bool invertMonoWrites = false;
    bool mixedMonoWrites = false;
    std::shared_ptr<subhost::raster::RasterFile> file;  // null while the file is closed
};

namespace subhost::raster {

// A file as it was on disk when an attachment changed, kept (by a hard link) so that
// undo and redo can put it back when its path has since been given to another file.
class KeptFile {
public:
    // Keeps the file now at path; keeps nothing when there is none or links are impossible.
    explicit KeptFile(const std::string& path);
    ~KeptFile();
    KeptFile(const KeptFile&) = delete;
    KeptFile& operator=(const KeptFile&) = delete;
    // Puts the kept file back at its path when the path now holds another one (open copies are dropped first).
    void restore() const;

private:
    std::string path_;
    std::string link_;
    unsigned long device_ = 0;
    unsigned long inode_ = 0;
};

// Module state: every attachment handle ever made (handles stay valid until the
// design closes), in attachment order, the open files by path, and the last file closed with
// its decoded image and the stamp it had when closed (see closeFile).
struct RasterState {
    std::vector<std::unique_ptr<DgnRaster>> rasters;
    std::vector<std::shared_ptr<RasterFile>> files;
    std::shared_ptr<RasterFile> closed;
    DiskStamp closedStamp;
    bool initialized = false;
};

RasterState& rasterState();

// Attaches the design's "rasters" entries (files relative to designDir); refused entries are reported, not attached.
void loadAttachments(const nlohmann::json& rasters, const std::string& designDir);
// The attachments as design JSON entries (what `save` writes).
nlohmann::json saveAttachments(const std::string& designDir);
// Every attachment's georeference, file information, masks and boundary ({"event":"rasters",...}).
nlohmann::json dumpRasters();
// Writes back every changed file; false when any write failed (reported).
bool flushAll();
// Writes back changed files and drops every attachment (design closed, host reset).
void closeAll();

// Opens path as a raster file (shared with other attachments of it): the header only, or the file
// closed last with its decoded image when nothing at all happened to it on disk since it was
// closed; null with *error naming the file and reason.
std::shared_ptr<RasterFile> openFile(const std::string& path, std::string* error);
// Takes a file no attachment holds any more (written back already), keeps it with its header and
// decoded image (when decoded) for the next openFile of its path when they are what the disk
// holds (not changed or written since, the disk's version the one they were read from); one file
// is kept, the one closed last. A close and re-open of an unchanged file (a backup copy) reads nothing.
void closeFile(std::shared_ptr<RasterFile> file);
// Drops the kept closed file of path (every path when empty), freeing its image.
void forgetClosedFile(const std::string& path = {});
// Writes the file back when changed; false when the write failed (reported in the message centre).
// A file that changed on disk since it was read is not overwritten: the edit is written to a new
// file "<stem>-conflict[n]<ext>" beside it, said in an error of the message centre (false).
bool writeBack(RasterFile& file);
// Decodes the file's pixels when not done yet; false with *error.
bool ensureDecoded(RasterFile& file, std::string* error);

// Takes the header facts a file had when it was attached and those it has now; when its size,
// colour mode or format differ, says in the message centre which file changed, how, and while
// doing what (`doing`), and gives true.
bool reportChangedFile(const std::string& path, const imagefile::ImageInfo& attached, const imagefile::ImageInfo& now,
                       const std::string& doing);
// Whether the attachment is read-only: its flag, or a file whose permission bits allow no writing.
bool isReadOnly(const DgnRaster& raster);
// Design point -> continuous pixel coordinates of the attachment (y up from the origin corner).
DPoint3d designToPixel(const DgnRaster& raster, const DPoint3d& design);

// Pixel transfer of a block between a buffer and the attachment's file (see pixels.cpp for the rules).
int getBlock(DgnRaster& raster, std::uint8_t* buffer, int length, PixelFormat* format, const PixelBlock& block,
             const BitmapSize& size);
int setBlock(DgnRaster& raster, const std::uint8_t* buffer, int length, const PixelFormat& format,
             const PixelBlock& block, const BitmapSize& size);

}  // namespace subhost::raster
