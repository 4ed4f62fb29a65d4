// Shared pieces of the raster codecs: the per-format entry points that
// imagefile.cpp dispatches to, and the size, palette and message helpers every
// codec uses. Not part of the host's public interface.
#pragma once

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "subhost/imagefile/imagefile.h"

namespace subhost::imagefile::detail {

// How one file is to be encoded: the image's own settings for a write-back, or
// settings adjusted to the target format for a new file.
struct WriteSettings {
    Compression compression = Compression::None;
    Layout layout;
    FileDetails details;
    // A monochrome G4 TIFF in strips of layout.rowsPerStrip: the strips already coded, written
    // as they are (null: coded by libtiff).
    const g4::ImageCode* precoded = nullptr;
};

// What a reader is told and tells about damaged pixel data.
struct DamageReport {
    bool accept = false;  // in: go on past damage, filling what the decoder did not produce
    std::string what;     // out: the first damage found, e.g. "damaged CCITT data in row 12 (...)"
};

// A raster file opened once for reading: every reader of one header read or decode reads
// from this same open file, so that a file is opened once however many parts look at it.
struct Source {
    std::FILE* file = nullptr;
    std::string path;        // the file's name, for messages
    std::uint64_t size = 0;  // bytes, as the open file has them
};

// Takes a source, puts the stream's read position back at the start of the file; false with the
// reason when it cannot.
bool rewindSource(const Source& source, std::string& why);
// Takes a source, gives a new descriptor of the same open file positioned at its start, for a
// library that closes what it is given (libtiff, giflib); -1 with the reason when there is none.
int duplicateAtStart(const Source& source, std::string& why);

// Codec entry points. Readers take the source at its start, fill `info`/`image` (header facts
// and palette; pixels too for the full readers) and give true, or give false with the reason in
// `why` (without the file name; the caller adds it). Readers that take a DamageReport refuse
// damaged data (why = damage.what) unless damage.accept; readers without one refuse every damaged file.
bool tiffReadInfo(const Source& source, ImageInfo& info, std::string& why);
bool tiffRead(const Source& source, Image& image, DamageReport& damage, std::string& why);
bool tiffWrite(const std::string& path, const Image& image, const WriteSettings& ws, std::string& why);

bool pngReadInfo(const Source& source, ImageInfo& info, std::string& why);
bool pngRead(const Source& source, Image& image, DamageReport& damage, std::string& why);
bool pngWrite(const std::string& path, const Image& image, const WriteSettings& ws, std::string& why);

bool jpegReadInfo(const Source& source, ImageInfo& info, std::string& why);
bool jpegRead(const Source& source, Image& image, DamageReport& damage, std::string& why);
bool jpegWrite(const std::string& path, const Image& image, const WriteSettings& ws, std::string& why);

bool bmpReadInfo(const Source& source, ImageInfo& info, std::string& why);
bool bmpRead(const Source& source, Image& image, std::string& why);
bool bmpWrite(const std::string& path, const Image& image, const WriteSettings& ws, std::string& why);

bool gifReadInfo(const Source& source, ImageInfo& info, std::string& why);
bool gifRead(const Source& source, Image& image, std::string& why);
bool gifWrite(const std::string& path, const Image& image, const WriteSettings& ws, std::string& why);

// Takes header facts, gives true when the size and mode may be decoded; else false
// with the reason (Other mode, non-positive or over-limit sides or bytes).
bool checkDecodable(const ImageInfo& info, std::string& why);
// Gives a quarter of the machine's physical memory in bytes (kMaxDecodedBytes when unknown):
// the most one decoded image may take.
std::uint64_t memoryShare();

// Takes an image whose header facts are set, sets its stride and room for its pixels,
// left unset for the decoder to write every byte; false with the reason when the memory cannot be had.
bool allocatePixels(Image& image, std::string& why);
// Clears the bits after the last pixel of every monochrome row, which decoders may leave unset.
void clearRowPadding(Image& image);
// Takes an image and a row range, fills those rows with the paper value (paperValue).
void fillPaper(Image& image, std::size_t firstRow, std::size_t rows);
// Takes a block decoded over `paper` and the same block decoded again over its complement: a byte
// that differs is one the decoder did not produce, and is set to paper in `decoded`. Gives the
// offset of the first such byte, or `bytes` when the decoder produced them all.
std::size_t paperWhereUnproduced(std::uint8_t* decoded, const std::uint8_t* again, std::size_t bytes,
                                 std::uint8_t paper);

// Takes header facts, fills the 256 palette entries as documented for their mode
// (monochrome from the photometric) and sets paletteCount.
void setDefaultPalette(ImageInfo& info);

// Takes two colours, gives true when the first is the lighter (luma).
bool lighter(const Rgb8& a, const Rgb8& b);

// Takes a printf format and its arguments, gives the formatted text.
std::string vformat(const char* fmt, va_list args);
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Takes an errno value, gives the system's words for it; a full disk or an exhausted quota
// (ENOSPC, EDQUOT) is said as "the disk is full", which a user knows what to do about.
inline std::string systemError(int code) {
    if (code == ENOSPC || code == EDQUOT) return std::string("the disk is full (") + std::strerror(code) + ")";
    return std::strerror(code);
}

// Files opened with fopen, closed when the owner goes.
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Takes a path and fopen mode, gives the open file or null with the reason (errno text).
FilePtr openFile(const std::string& path, const char* mode, std::string& why);

}  // namespace subhost::imagefile::detail
