// Raster file codecs of the substitute host: a whole raster file decoded into
// memory, its header read alone, and the image written back in the same format,
// compression, photometric, resolution and strip/tile layout it came with.
//
// Formats (host format codes): TIFF 3 (libtiff), PNG 28 (libpng), JPEG 18
// (libjpeg), BMP 9 (own reader and writer), GIF 7 (giflib; written back in place
// only: a new GIF file, createImageFile, answers kStatusCannotWriteFormat, -119).
//
// Pixel layout in memory, rows top to bottom, no row padding beyond what is said:
//   ColorMode::Mono      1 bit per pixel, 8 pixels a byte, most significant bit
//                        leftmost, each row padded to a whole byte. The bits are
//                        exactly the file's bits; `photometric` says whether a 1
//                        is black (MinIsWhite) or white (MinIsBlack).
//   ColorMode::Palette4  one palette index (0..15) per byte (unpacked).
//   ColorMode::Palette8  one palette index per byte.
//   ColorMode::Grey8     one grey level per byte, 0 black.
//   ColorMode::Rgb       3 bytes r, g, b.
//   ColorMode::Rgba      4 bytes r, g, b, a.
//   ColorMode::Other     any other layout (16-bit samples, 2-bit palette, CMYK,
//                        separate planes, ...): readInfo reports it, readImage
//                        refuses it with the reason.
//
// Palette (always 256 entries; `paletteCount` says how many the file holds):
//   palette modes: the file's colour map, the unused entries black;
//   Mono: entry 0 the colour a 0 bit shows, entry 1 the colour a 1 bit shows
//         (white/black from the photometric, or a BMP/PNG file's own two colours),
//         paletteCount 2, the rest black;
//   Grey8, Rgb, Rgba: a grey ramp (entry i = i, i, i), paletteCount 256.
//
// Limits: images with a side over kMaxSide pixels, or whose decoded pixels would
// take more than kMaxDecodedBytes or a quarter of the machine's memory, are refused
// from the header, before any pixel memory is taken; readImage also refuses images of
// more pixels than ReadOptions::maxPixels (2 gigapixels unless PXMEND_MAX_PIXELS says).
//
// Damaged data: a decoder's warning about the pixel data (libtiff's, libjpeg's,
// libpng's), data ending early and rows no strip holds make the file damaged;
// readImage refuses it with the reason ("damaged CCITT data in row 12 ...") unless
// ReadOptions::acceptDamaged, and then fills what the decoder did not produce with
// paperValue. Pixel memory is not cleared beforehand: a decoder writes every byte or
// the part it did not write is filled, so no byte of an image is left unset.
//
// Monochrome CCITT G4 TIFF strips are decoded by the G4 coder here (g4.h), which keeps each
// strip's code and where each row's code starts (Image::g4Code), so that writeImageEdited can
// re-code only the rows an edit changed; a strip it refuses (damaged or unusual code) sends the
// whole file through libtiff, which says what is damaged.
//
// What a write-back keeps: format, compression, photometric, resolution, strip or
// tile layout, and for TIFF also byte order, BigTIFF, fill order, predictor, G3
// and G4 options, orientation and the tags the host does not interpret (texts,
// georeferencing keys); for GIF the colour table (as a global table, grown to a
// power of two when the pixels use indices past it), background and transparent
// colour indices and interlacing, the pixels LZW coded anew by giflib. It does
// not keep: further images of a TIFF (files with several images are refused when
// read) or of a GIF (read as its first image; such a file is not written back:
// kStatusCannotWriteFormat), GIF comments, application extensions and the first
// image's place on a larger logical screen (written as one screen-sized image),
// PNG transparency and text chunks, BMP header versions (written with the 40-byte
// header), JPEG quality (not stored in files; details.jpegQuality is used) — JPEG
// data is re-encoded, so it is lossy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "subhost/imagefile/g4.h"

namespace subhost::imagefile {

// Host image file formats (ImageFileFormat values).
enum class FileFormat : int {
    Unknown = 0,
    Gif = 7,
    Bmp = 9,
    Tiff = 3,
    Jpeg = 18,
    Png = 28,
};

// Host colour modes (ImageColorMode values). Other (7) is any layout the host
// reads information from but does not decode; the add-on refuses it.
enum class ColorMode : int {
    Rgb = 1,
    Palette4 = 2,
    Palette8 = 3,
    Grey8 = 4,
    Mono = 5,
    Rgba = 6,
    Other = 7,
};

// Host compression codes. LZW is 5, the code the add-on's LZW question tests.
//   0 Unknown    a scheme the host does not write (also refused at decode)
//   1 None       uncompressed (TIFF none, BMP BI_RGB)
//   2 CcittRle   CCITT modified Huffman (TIFF 2), monochrome only
//   3 CcittG3    CCITT Group 3 fax (T.4), monochrome only
//   4 CcittG4    CCITT Group 4 fax (T.6), monochrome only
//   5 Lzw        LZW (TIFF; GIF files are always LZW)
//   6 PackBits   PackBits run lengths (TIFF)
//   7 Jpeg       JPEG (TIFF with grey or colour, JPEG files)
//   8 Deflate    zlib deflate (TIFF Adobe deflate; PNG files are always deflate)
enum class Compression : int {
    Unknown = 0,
    None = 1,
    CcittRle = 2,
    CcittG3 = 3,
    CcittG4 = 4,
    Lzw = 5,
    PackBits = 6,
    Jpeg = 7,
    Deflate = 8,
};

// What a 1 bit of a monochrome image means (as the file says).
enum class Photometric : int {
    MinIsWhite = 0,  // 0 white, 1 black (usual for fax and scans)
    MinIsBlack = 1,  // 0 black, 1 white
};

// Units of the resolution values.
enum class ResolutionUnit : int {
    None = 1,        // only an aspect ratio
    Inch = 2,        // dots per inch
    Centimetre = 3,  // dots per centimetre (PNG and BMP store dots per metre)
};

struct Resolution {
    double x = 0;  // 0: the file gives no resolution
    double y = 0;
    ResolutionUnit unit = ResolutionUnit::Inch;
};

// Strip or tile organisation (TIFF); other formats have rowsPerStrip = height.
struct Layout {
    bool tiled = false;
    std::uint32_t rowsPerStrip = 0;  // strips; 0 lets the writer choose
    std::uint32_t tileWidth = 0;     // tiles, multiples of 16
    std::uint32_t tileHeight = 0;
};

// A TIFF tag the host does not interpret (description, software, date,
// georeferencing keys, ...), carried unchanged through a write-back: libtiff's
// in-memory form of its value, `count` elements.
struct TiffTag {
    std::uint32_t tag = 0;
    int type = 0;            // TIFFDataType
    bool passCount = false;  // value set with its count (else a text)
    bool wideCount = false;  // the count is 32-bit
    std::uint32_t count = 0;
    std::vector<std::uint8_t> data;
};

// Format details that the file header carries and the writer repeats, so that a
// write-back produces the same kind of file. New images may leave the defaults.
struct FileDetails {
    // TIFF
    std::uint16_t tiffPhotometric = 0;            // 0: derived from the colour mode
    std::uint16_t fillOrder = 1;                  // 1 most significant bit first, 2 least
    std::uint16_t orientation = 1;                // kept as found; rows are decoded in file order
    std::uint16_t chromaSubsampling[2] = {2, 2};  // YCbCr JPEG: horizontal, vertical
    std::uint16_t predictor = 1;                  // 1 none, 2 horizontal, 3 floating point
    std::uint16_t extraSample = 2;                // alpha: 1 associated, 2 unassociated
    std::uint32_t group3Options = 0;              // T4Options of a CCITT G3 file
    std::uint32_t group4Options = 0;              // T6Options of a CCITT G4 file
    bool group4OptionsTagged = false;             // the file says T6Options, also when 0: written back so
    bool bigTiff = false;
    bool bigEndian = false;
    std::vector<TiffTag> tiffTags;  // other tags, written back as found
    // TIFF JPEG and JPEG files: quality used when encoding (not stored in files)
    int jpegQuality = 90;
    // PNG and GIF
    bool interlaced = false;
    // GIF: the background colour index of the logical screen, the transparent
    // colour index of the first image's graphic control extension (-1: none),
    // and whether further images (an animation) follow the first one, which is
    // the only one the host reads: such a file is not written back.
    int gifBackground = 0;
    int gifTransparent = -1;
    bool gifMoreImages = false;
    // BMP
    bool topDown = false;
};

using Rgb8 = std::array<std::uint8_t, 3>;

// Header facts of a raster file (what readInfo gives).
struct ImageInfo {
    std::string path;
    int width = 0;
    int height = 0;
    ColorMode mode = ColorMode::Other;
    FileFormat format = FileFormat::Unknown;
    Compression compression = Compression::Unknown;
    Photometric photometric = Photometric::MinIsWhite;  // monochrome only
    Resolution resolution;
    Layout layout;
    FileDetails details;
    int bitsPerSample = 0;  // as the file stores them
    int samplesPerPixel = 0;
    // The palette as documented above, from the header: a question about the colours never
    // needs the pixels decoded.
    std::array<Rgb8, 256> palette{};
    int paletteCount = 0;
};

// Takes a byte count, gives memory for pixels (large blocks in huge pages where the
// system offers them, so that first touching an A0 image costs few page faults);
// throws std::bad_alloc when there is none.
void* allocatePixelMemory(std::size_t bytes);
// Gives back memory from allocatePixelMemory.
void freePixelMemory(void* memory) noexcept;

// Allocator whose resize leaves new elements uninitialised: decoders write every
// pixel themselves, and zero-filling an A0 scan first costs as much as decoding it.
template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
    using value_type = T;
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() noexcept = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(allocatePixelMemory(n * sizeof(T))); }
    void deallocate(T* p, std::size_t) noexcept { freePixelMemory(p); }
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <typename T, typename U>
bool operator==(const DefaultInitAllocator<T>&, const DefaultInitAllocator<U>&) noexcept {
    return true;
}

using PixelBytes = std::vector<std::uint8_t, DefaultInitAllocator<std::uint8_t>>;

// A decoded image: header facts, palette and packed pixels (layout above).
struct Image : ImageInfo {
    std::size_t stride = 0;  // bytes per row
    PixelBytes pixels;       // stride * height bytes
    // A monochrome G4 TIFF in strips: the code its pixels were read from or last written as by
    // writeImageEdited, with where each row's code starts; null when not known.
    std::shared_ptr<const g4::ImageCode> g4Code;
};

struct ImageResult {
    bool ok = false;
    Image image;
    std::string error;   // names the file and the reason when !ok
    std::string damage;  // damaged pixel data found (also when that refused the file); empty when none
};

// How readImage decodes a file.
struct ReadOptions {
    // Largest image decoded, in pixels (width times height), checked from the header
    // before any pixel memory is taken; PXMEND_MAX_PIXELS sets another (readOptionsFrom).
    std::uint64_t maxPixels = 2'000'000'000;
    // Damaged pixel data (a decoder's warning about the data, data ending early, rows
    // no strip holds): false refuses the file with the reason; true keeps every byte the
    // decoder produced and fills the rest with the paper value (paperValue).
    bool acceptDamaged = false;
};

struct InfoResult {
    bool ok = false;
    ImageInfo info;
    std::string error;
};

struct WriteStatus {
    int status = 0;        // 0 written; kStatusCannotWriteFormat; kStatusError
    std::string error;     // names the file and the reason when status != 0
    bool spliced = false;  // writeImageEdited kept the G4 code of the rows that did not change
};

constexpr int kStatusOk = 0;
constexpr int kStatusCannotWriteFormat = -119;  // the host reads but cannot write this format
constexpr int kStatusNoMemory = -116;
constexpr int kStatusError = 32768;  // any other failure, error text says why

constexpr std::int64_t kMaxSide = 1000000;
constexpr std::uint64_t kMaxDecodedBytes = 4ull << 30;  // 4 GiB

// Bytes per row of `mode` at `width` pixels (0 for Other).
std::size_t rowBytes(ColorMode mode, int width);

// Takes a size and mode, gives a blank image (zero pixels, or pixels left unset for a caller that
// overwrites them all when blank is false; default palette, photometric MinIsWhite, compression None,
// format Unknown) ready for createImageFile; fails with ok false for Other, non-positive or over-limit sizes.
ImageResult makeImage(int width, int height, ColorMode mode, bool blank = true);

// Takes a path, gives its header facts and palette without decoding pixels (TIFF tags only;
// the header and colour table of the other formats), opening the file once; fails with the
// file and reason (missing, unreadable, unknown kind, damaged header, too large).
InfoResult readInfo(const std::string& path);

// Takes a path and read options, opens the file once and gives the whole decoded image (with `damage` set when
// damaged data was accepted); fails with the file and reason (as readInfo, plus unsupported
// colour layouts, images over the pixel or memory limit, and damaged pixel data unless
// options.acceptDamaged).
ImageResult readImage(const std::string& path, const ReadOptions& options = ReadOptions{});

// Takes the text of PXMEND_MAX_PIXELS (null or empty: not set), gives options with that
// pixel limit (else the default); false with the reason for anything but a positive whole number.
bool readOptionsFrom(const char* maxPixels, ReadOptions& options, std::string& why);

// Takes header facts and read options, gives true when the image is within the pixel limit
// and the memory limit; else false with the reason (its size and the limit).
bool withinReadLimits(const ImageInfo& info, const ReadOptions& options, std::string& why);

// Takes a decoded image's header facts and palette, gives the byte that shows paper (white,
// or the palette's lightest entry) in its colour mode: what fills accepted damaged parts.
std::uint8_t paperValue(const Image& image);

// Takes a path and an image (normally one readImage gave), writes it in
// image.format with its compression, photometric, resolution and layout through
// a temporary file renamed over `path` (every format the host reads, GIF
// included); gives kStatusCannotWriteFormat for a format or colour mode it cannot
// write back (and a GIF of several images), kStatusError with the reason
// otherwise (also for a file whose permission bits allow no writing). On failure
// the file at `path` is left as it was.
WriteStatus writeImage(const std::string& path, const Image& image);

// Takes a path, an image and the rows changed since its pixels were read or last written by this
// call (null: not known), writes it as writeImage does. A monochrome G4 TIFF in strips is coded
// by the G4 coder here: when the code it was read from is known and re-coding only the changed
// rows costs less than coding the whole image (an estimate from each row's code), the code of
// the other rows is kept (the result is byte for byte the whole image coded anew); image.g4Code
// then holds the code written. Fails as writeImage does.
WriteStatus writeImageEdited(const std::string& path, Image& image, const g4::RowSpans* changed);

// Takes a path, a format and an image, writes a new file in `format` (keeping
// image.compression when the format can hold it, else the format's usual one:
// G4 for monochrome TIFF, LZW for other TIFF; layout and details are kept when
// the image is new or already of that format);
// gives kStatusCannotWriteFormat for a format or colour mode the host cannot
// write new files in (GIF among them), kStatusError with the reason for other failures.
WriteStatus createImageFile(const std::string& path, FileFormat format, const Image& image);

// How often the host's readers and writers touched one file since the counts were last reset:
// what shows that an edit opens and decodes its file no more often than it needs.
struct FileCounts {
    unsigned opens = 0;    // opened for reading: a header read (readInfo) or a decode (readImage)
    unsigned decodes = 0;  // full pixel decodes (readImage calls that reached the decoder)
    unsigned writes = 0;   // files written (writeImage, createImageFile), the temporary renamed over it
};

// Takes a path (as given to the readers and writers), gives its counts since the last reset;
// zeros for a file not touched since.
FileCounts fileCounts(const std::string& path);
// Sets the counts of every file back to zero.
void resetFileCounts();

// Takes a format code, gives whether the host makes new files of that format
// (createImageFile, the image library's new-file saves): TIFF, PNG, JPEG, BMP; not GIF.
bool canWriteFormat(FileFormat format);
// Takes a format code, gives whether the host writes edited images back over
// files of that format (writeImage): every format it reads, GIF included.
bool canWriteBack(FileFormat format);

}  // namespace subhost::imagefile
