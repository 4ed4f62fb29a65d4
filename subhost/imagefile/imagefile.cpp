// Raster file services: recognising a file's kind from its first bytes, handing
// it to the codec of that kind, and writing images back safely (temporary file
// in the same folder, renamed over the original only once it is complete).
#include "subhost/imagefile/imagefile.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>

#include "subhost/imagefile/codecs.h"
#include "subhost/safefile.h"

namespace subhost::imagefile {

namespace detail {

std::string vformat(const char* fmt, va_list args) {
    char buffer[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(buffer, sizeof buffer, fmt, copy);
    va_end(copy);
    if (n < 0) return fmt;
    if (static_cast<std::size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(n));
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, args);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = vformat(fmt, args);
    va_end(args);
    return text;
}

FilePtr openFile(const std::string& path, const char* mode, std::string& why) {
    FilePtr file(std::fopen(path.c_str(), mode));
    if (!file) why = std::strerror(errno);
    return file;
}

bool rewindSource(const Source& source, std::string& why) {
    if (std::fseek(source.file, 0, SEEK_SET) != 0) {
        why = std::string("cannot go back to the start of the file (") + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

int duplicateAtStart(const Source& source, std::string& why) {
    // The descriptor's position is set itself: the stream may have sought inside its buffer alone.
    // Readers of one source use either the stream or descriptors, never both after the signature.
    const int fd = ::dup(fileno(source.file));
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
        why = std::string("cannot read the open file (") + std::strerror(errno) + ")";
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

bool checkDecodable(const ImageInfo& info, std::string& why) {
    if (info.width <= 0 || info.height <= 0) {
        why = format("invalid image size %d x %d", info.width, info.height);
        return false;
    }
    if (info.width > kMaxSide || info.height > kMaxSide) {
        why = format("image size %d x %d exceeds the limit of %lld pixels a side", info.width, info.height,
                     static_cast<long long>(kMaxSide));
        return false;
    }
    if (info.mode == ColorMode::Other) {
        why = format("unsupported colour layout (%d bits per sample, %d samples per pixel)", info.bitsPerSample,
                     info.samplesPerPixel);
        return false;
    }
    std::uint64_t bytes =
        static_cast<std::uint64_t>(rowBytes(info.mode, info.width)) * static_cast<std::uint64_t>(info.height);
    const std::uint64_t share = memoryShare();
    const std::uint64_t limit = std::min(kMaxDecodedBytes, share);
    if (bytes > limit) {
        why = format("image size %d x %d would take %llu MiB decoded, over the limit of %llu MiB%s", info.width,
                     info.height, static_cast<unsigned long long>(bytes >> 20),
                     static_cast<unsigned long long>(limit >> 20),
                     limit < kMaxDecodedBytes ? " (a quarter of this machine's memory)" : "");
        return false;
    }
    return true;
}

std::uint64_t memoryShare() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return kMaxDecodedBytes;  // unknown: the fixed limit alone
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 4;
}

void fillPaper(Image& image, std::size_t firstRow, std::size_t rows) {
    const std::size_t height = static_cast<std::size_t>(image.height);
    if (firstRow >= height) return;
    rows = std::min(rows, height - firstRow);
    std::memset(image.pixels.data() + firstRow * image.stride, paperValue(image), rows * image.stride);
}

std::size_t paperWhereUnproduced(std::uint8_t* decoded, const std::uint8_t* again, std::size_t bytes,
                                 std::uint8_t paper) {
    std::size_t first = bytes;
    for (std::size_t i = 0; i < bytes; ++i) {
        if (decoded[i] == again[i]) continue;
        decoded[i] = paper;
        first = std::min(first, i);
    }
    return first;
}

bool lighter(const Rgb8& a, const Rgb8& b) {
    auto luma = [](const Rgb8& c) { return 299 * c[0] + 587 * c[1] + 114 * c[2]; };
    return luma(a) > luma(b);
}

void setDefaultPalette(ImageInfo& image) {
    image.palette.fill(Rgb8{0, 0, 0});
    switch (image.mode) {
    case ColorMode::Mono: {
        const Rgb8 white{255, 255, 255}, black{0, 0, 0};
        bool zeroIsWhite = image.photometric == Photometric::MinIsWhite;
        image.palette[0] = zeroIsWhite ? white : black;
        image.palette[1] = zeroIsWhite ? black : white;
        image.paletteCount = 2;
        break;
    }
    case ColorMode::Palette4:
    case ColorMode::Palette8:
        image.paletteCount = image.mode == ColorMode::Palette4 ? 16 : 256;
        break;
    default:
        for (int i = 0; i < 256; ++i) {
            auto v = static_cast<std::uint8_t>(i);
            image.palette[static_cast<std::size_t>(i)] = Rgb8{v, v, v};
        }
        image.paletteCount = 256;
        break;
    }
}

void clearRowPadding(Image& image) {
    const int spare = image.mode == ColorMode::Mono ? image.width % 8 : 0;
    if (spare == 0 || image.stride == 0) return;
    const auto keep = static_cast<std::uint8_t>(0xFF << (8 - spare));
    for (std::size_t r = 0; r < static_cast<std::size_t>(image.height); ++r)
        image.pixels[r * image.stride + image.stride - 1] &= keep;
}

bool allocatePixels(Image& image, std::string& why) {
    if (!checkDecodable(image, why)) return false;
    image.stride = rowBytes(image.mode, image.width);
    try {
        image.pixels.clear();
        image.pixels.resize(image.stride * static_cast<std::size_t>(image.height));  // left unset: decoders fill it
    } catch (const std::bad_alloc&) {
        why =
            format("not enough memory for %zu bytes of pixels", image.stride * static_cast<std::size_t>(image.height));
        return false;
    }
    return true;
}

}  // namespace detail

namespace {

using namespace detail;

// Module state: the read and write counts of every file touched since the last reset.
struct CountState {
    std::mutex lock;
    std::map<std::string, FileCounts> files;
};

CountState& countState() {
    static CountState state;
    return state;
}

// Takes a path and the count to raise, adds one to that count of the file.
void countFor(const std::string& path, unsigned FileCounts::*which) {
    CountState& s = countState();
    const std::lock_guard<std::mutex> hold(s.lock);
    ++(s.files[path].*which);
}

void countOpen(const std::string& path) { countFor(path, &FileCounts::opens); }
void countDecode(const std::string& path) { countFor(path, &FileCounts::decodes); }

// Takes the first bytes of a file, gives its format (Unknown when none matches).
FileFormat sniffFormat(const unsigned char* head, std::size_t n) {
    auto starts = [&](const char* magic, std::size_t len) { return n >= len && std::memcmp(head, magic, len) == 0; };
    if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) || starts("MM\0+", 4)) return FileFormat::Tiff;
    if (starts("\x89PNG\r\n\x1a\n", 8)) return FileFormat::Png;
    if (starts("\xFF\xD8\xFF", 3)) return FileFormat::Jpeg;
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return FileFormat::Gif;
    if (starts("BM", 2)) return FileFormat::Bmp;
    return FileFormat::Unknown;
}

// Takes a path, opens it once for reading and gives the open file with its format from the
// file's signature, positioned at its start; false with the reason for a missing, unreadable,
// empty or unrecognised file. The size and kind come from the open file itself, so they are
// those of the file every reader then reads.
bool openSource(const std::string& path, FilePtr& holder, Source& source, FileFormat& format, std::string& why) {
    // The kind is looked at before opening: opening a pipe would wait for a writer.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        why = errno == ENOENT ? "the file does not exist" : std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        why = "it is a folder, not a raster file";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        return false;
    }
    holder = openFile(path, "rb", why);
    if (!holder) return false;
    countOpen(path);
    if (::fstat(fileno(holder.get()), &st) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        return false;
    }
    unsigned char head[16] = {};
    const std::size_t n = std::fread(head, 1, sizeof head, holder.get());
    if (n == 0) {
        why = "the file is empty";
        return false;
    }
    format = sniffFormat(head, n);
    if (format == FileFormat::Unknown) {
        why = "not a raster file of a kind the host reads (TIFF, PNG, JPEG, BMP, GIF)";
        return false;
    }
    source = Source{holder.get(), path, static_cast<std::uint64_t>(st.st_size)};
    return rewindSource(source, why);
}

// Takes an open source and its format, fills the header facts and palette; false with the reason.
bool readHeader(const Source& source, FileFormat format, ImageInfo& info, std::string& why) {
    switch (format) {
    case FileFormat::Tiff:
        return tiffReadInfo(source, info, why);
    case FileFormat::Png:
        return pngReadInfo(source, info, why);
    case FileFormat::Jpeg:
        return jpegReadInfo(source, info, why);
    case FileFormat::Bmp:
        return bmpReadInfo(source, info, why);
    case FileFormat::Gif:
        return gifReadInfo(source, info, why);
    default:
        why = "unknown format";
        return false;
    }
}

// Takes an open source and its format, decodes the whole image; false with the reason.
bool decode(const Source& source, FileFormat format, Image& image, DamageReport& damage, std::string& why) {
    countDecode(source.path);
    switch (format) {
    case FileFormat::Tiff:
        return tiffRead(source, image, damage, why);
    case FileFormat::Png:
        return pngRead(source, image, damage, why);
    case FileFormat::Jpeg:
        return jpegRead(source, image, damage, why);
    case FileFormat::Bmp:
        return bmpRead(source, image, why);
    case FileFormat::Gif:
        return gifRead(source, image, why);
    default:
        why = "unknown format";
        return false;
    }
}

std::string readFailure(const std::string& path, const std::string& why) {
    return "Cannot read raster file \"" + path + "\": " + why;
}

WriteStatus writeFailure(int status, const std::string& path, const std::string& why) {
    return WriteStatus{status, "Cannot write raster file \"" + path + "\": " + why};
}

// Takes a format and colour mode, gives whether the host's writer of that format holds the mode.
bool formatHoldsMode(FileFormat format, ColorMode mode) {
    if (mode == ColorMode::Other) return false;
    switch (format) {
    case FileFormat::Tiff:
    case FileFormat::Png:
    case FileFormat::Bmp:
        return true;
    case FileFormat::Jpeg:
        return mode == ColorMode::Grey8 || mode == ColorMode::Rgb;
    case FileFormat::Gif:
        return mode == ColorMode::Palette8;
    default:
        return false;
    }
}

// Takes a format, mode and wished compression, gives the compression the file will get.
Compression compressionFor(FileFormat format, ColorMode mode, Compression wish) {
    switch (format) {
    case FileFormat::Png:
        return Compression::Deflate;
    case FileFormat::Bmp:
        return Compression::None;
    case FileFormat::Jpeg:
        return Compression::Jpeg;
    case FileFormat::Gif:
        return Compression::Lzw;
    default:
        break;
    }
    bool mono = mode == ColorMode::Mono;
    switch (wish) {
    case Compression::None:
    case Compression::PackBits:
    case Compression::Lzw:
    case Compression::Deflate:
        return wish;
    case Compression::CcittRle:
    case Compression::CcittG3:
    case Compression::CcittG4:
        if (mono) return wish;
        break;
    case Compression::Jpeg:
        if (mode == ColorMode::Grey8 || mode == ColorMode::Rgb) return wish;
        break;
    default:
        break;
    }
    return mono ? Compression::CcittG4 : Compression::Lzw;
}

// Takes an image, gives an empty text when its pixel buffer matches its header, else the fault.
std::string imageFault(const Image& image) {
    std::string why;
    if (!checkDecodable(image, why)) return why;
    if (image.stride != rowBytes(image.mode, image.width))
        return format("row length %zu does not match the width", image.stride);
    if (image.pixels.size() < image.stride * static_cast<std::size_t>(image.height))
        return format("pixel buffer of %zu bytes is shorter than the image", image.pixels.size());
    return {};
}

// Takes the target path, an image, its format and settings: encodes into the
// temporary file beside `path`, gives it the original's permission bits and
// renames it over `path`. The original stays untouched on any failure.
WriteStatus writeThroughTemporary(const std::string& path, const Image& image, FileFormat fileFormat,
                                  const WriteSettings& ws) {
    std::string fault = imageFault(image);
    if (!fault.empty()) return writeFailure(kStatusError, path, fault);
    // A file whose permission bits allow no writing stays as it is, even for a
    // user (such as root) whom the system would let replace it.
    struct stat target {};
    const bool exists = ::stat(path.c_str(), &target) == 0;
    if (exists && (target.st_mode & 0222) == 0) return writeFailure(kStatusError, path, "the file is read-only");
    // Through a symbolic link the file it names is replaced, and the link stays.
    std::string destination = path;
    std::error_code ec;
    if (exists && std::filesystem::is_symlink(path, ec)) {
        std::filesystem::path real = std::filesystem::canonical(path, ec);
        if (!ec) destination = real.string();
    }
    // One writer of a file at a time, across processes: a second one waits for the first to finish.
    std::string why;
    auto lock = safefile::FileLock::acquire(destination, safefile::lockWaitSeconds(), &why);
    if (!lock) return writeFailure(kStatusError, path, why);
    // Temporaries that killed writers left beside the file go; this writer's own is created
    // exclusively under a name no other writer uses, and nothing planted at it is followed.
    safefile::removeStaleWorkingFiles(std::filesystem::path(destination).parent_path().string());
    auto temporary = safefile::TempFile::create(destination, &why);
    if (!temporary) return writeFailure(kStatusError, path, why);
    const std::string& temp = temporary->path();
    bool ok = false;
    switch (fileFormat) {
    case FileFormat::Tiff:
        ok = tiffWrite(temp, image, ws, why);
        break;
    case FileFormat::Png:
        ok = pngWrite(temp, image, ws, why);
        break;
    case FileFormat::Jpeg:
        ok = jpegWrite(temp, image, ws, why);
        break;
    case FileFormat::Bmp:
        ok = bmpWrite(temp, image, ws, why);
        break;
    case FileFormat::Gif:
        ok = gifWrite(temp, image, ws, why);
        break;
    default:
        why = "format not writable";
        break;
    }
    // The commit keeps the original's permission bits, flushes to disk and renames over it.
    if (!ok || !temporary->commit(&why)) return writeFailure(kStatusError, path, why);
    countFor(path, &FileCounts::writes);
    return WriteStatus{};
}

}  // namespace

std::size_t rowBytes(ColorMode mode, int width) {
    if (width <= 0) return 0;
    auto w = static_cast<std::size_t>(width);
    switch (mode) {
    case ColorMode::Mono:
        return (w + 7) / 8;
    case ColorMode::Palette4:
    case ColorMode::Palette8:
    case ColorMode::Grey8:
        return w;
    case ColorMode::Rgb:
        return 3 * w;
    case ColorMode::Rgba:
        return 4 * w;
    default:
        return 0;
    }
}

void* allocatePixelMemory(std::size_t bytes) {
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    if (bytes < 2 * kHugePage) {
        void* p = std::malloc(std::max<std::size_t>(bytes, 1));
        if (!p) throw std::bad_alloc();
        return p;
    }
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) throw std::bad_alloc();
    ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without huge pages the memory works all the same
    return p;
}

void freePixelMemory(void* memory) noexcept { std::free(memory); }

ImageResult makeImage(int width, int height, ColorMode mode, bool blank) {
    ImageResult result;
    Image& image = result.image;
    image.width = width;
    image.height = height;
    image.mode = mode;
    image.bitsPerSample = mode == ColorMode::Mono ? 1 : mode == ColorMode::Palette4 ? 4 : 8;
    image.samplesPerPixel = mode == ColorMode::Rgb ? 3 : mode == ColorMode::Rgba ? 4 : 1;
    image.compression = Compression::None;
    std::string why;
    if (!allocatePixels(image, why)) {
        result.error = "Cannot create image: " + why;
        return result;
    }
    if (blank) std::fill(image.pixels.begin(), image.pixels.end(), std::uint8_t(0));
    setDefaultPalette(image);
    result.ok = true;
    return result;
}

InfoResult readInfo(const std::string& path) {
    InfoResult result;
    FileFormat format = FileFormat::Unknown;
    std::string why;
    FilePtr holder;
    Source source;
    bool ok = openSource(path, holder, source, format, why) && readHeader(source, format, result.info, why);
    if (ok && (result.info.width <= 0 || result.info.height <= 0 || result.info.width > kMaxSide ||
               result.info.height > kMaxSide)) {
        ok = checkDecodable(result.info, why);
    }
    if (!ok) {
        result.error = readFailure(path, why);
        return result;
    }
    result.info.path = path;
    result.info.format = format;
    result.ok = true;
    return result;
}

ImageResult readImage(const std::string& path, const ReadOptions& options) {
    ImageResult result;
    FileFormat format = FileFormat::Unknown;
    std::string why;
    FilePtr holder;
    Source source;
    bool ok = openSource(path, holder, source, format, why);
    // The limits are checked from the header alone, before a decoder takes any pixel memory.
    if (ok) {
        ImageInfo header;
        ok = readHeader(source, format, header, why) && withinReadLimits(header, options, why) &&
             rewindSource(source, why);
    }
    DamageReport damage;
    damage.accept = options.acceptDamaged;
    if (ok) ok = decode(source, format, result.image, damage, why);
    // A file that grew between the header check and the decode is held to the same limits.
    if (ok && !withinReadLimits(result.image, options, why)) ok = false;
    result.damage = damage.what;
    if (!ok) {
        result.image = Image{};
        result.error = readFailure(path, why);
        return result;
    }
    clearRowPadding(result.image);
    result.image.path = path;
    result.image.format = format;
    result.ok = true;
    return result;
}

FileCounts fileCounts(const std::string& path) {
    CountState& s = countState();
    const std::lock_guard<std::mutex> hold(s.lock);
    const auto it = s.files.find(path);
    return it == s.files.end() ? FileCounts{} : it->second;
}

void resetFileCounts() {
    CountState& s = countState();
    const std::lock_guard<std::mutex> hold(s.lock);
    s.files.clear();
}

bool readOptionsFrom(const char* maxPixels, ReadOptions& options, std::string& why) {
    options = ReadOptions{};
    if (maxPixels == nullptr || *maxPixels == '\0') return true;
    const std::string text = maxPixels;
    std::uint64_t value = 0;
    bool digits = text.size() <= 19;
    for (char c : text) {
        if (c < '0' || c > '9') digits = false;
        if (digits) value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (!digits || value == 0) {
        why = "PXMEND_MAX_PIXELS must be a positive whole number of pixels, not \"" + text + "\"";
        return false;
    }
    options.maxPixels = value;
    return true;
}

bool withinReadLimits(const ImageInfo& info, const ReadOptions& options, std::string& why) {
    if (!checkDecodable(info, why)) return false;
    const std::uint64_t pixels = static_cast<std::uint64_t>(info.width) * static_cast<std::uint64_t>(info.height);
    if (pixels > options.maxPixels) {
        why = format(
            "the image is %d x %d pixels (%llu pixels), over the limit of %llu pixels (PXMEND_MAX_PIXELS "
            "sets the limit; default %llu)",
            info.width, info.height, static_cast<unsigned long long>(pixels),
            static_cast<unsigned long long>(options.maxPixels),
            static_cast<unsigned long long>(ReadOptions{}.maxPixels));
        return false;
    }
    return true;
}

std::uint8_t paperValue(const Image& image) {
    switch (image.mode) {
    case ColorMode::Mono:
        // A 0 bit shows palette entry 0: paper is whichever bit shows the lighter colour.
        return lighter(image.palette[1], image.palette[0]) ? 0xFF : 0x00;
    case ColorMode::Palette4:
    case ColorMode::Palette8: {
        const int count = std::clamp(image.paletteCount, 1, image.mode == ColorMode::Palette4 ? 16 : 256);
        int lightest = 0;
        for (int i = 1; i < count; ++i)
            if (lighter(image.palette[static_cast<std::size_t>(i)], image.palette[static_cast<std::size_t>(lightest)]))
                lightest = i;
        return static_cast<std::uint8_t>(lightest);
    }
    default:
        return 0xFF;  // white grey level, white colour, opaque alpha
    }
}

bool canWriteFormat(FileFormat format) {
    return format == FileFormat::Tiff || format == FileFormat::Png || format == FileFormat::Jpeg ||
           format == FileFormat::Bmp;
}

bool canWriteBack(FileFormat format) { return canWriteFormat(format) || format == FileFormat::Gif; }

WriteStatus writeImage(const std::string& path, const Image& image) {
    if (!canWriteBack(image.format))
        return writeFailure(kStatusCannotWriteFormat, path, "the host cannot write this file format");
    if (!formatHoldsMode(image.format, image.mode))
        return writeFailure(kStatusCannotWriteFormat, path, "the file format cannot hold this colour mode");
    if (image.format == FileFormat::Gif && image.details.gifMoreImages)
        return writeFailure(kStatusCannotWriteFormat, path,
                            "the GIF file holds several images (an animation); the host reads and edits only the "
                            "first, and writing it back would lose the others");
    WriteSettings ws;
    ws.compression = compressionFor(image.format, image.mode, image.compression);
    ws.layout = image.layout;
    ws.details = image.details;
    return writeThroughTemporary(path, image, image.format, ws);
}

namespace {

// Takes an image, gives whether its write-back is coded by the G4 coder here: a monochrome G4
// TIFF in strips of a known height.
bool codedHere(const Image& image) {
    return image.format == FileFormat::Tiff && image.mode == ColorMode::Mono &&
           compressionFor(image.format, image.mode, image.compression) == Compression::CcittG4 && !image.layout.tiled &&
           image.layout.rowsPerStrip > 0 && image.width > 0 && image.height > 0 &&
           image.pixels.size() >= image.stride * static_cast<std::size_t>(image.height);
}

}  // namespace

WriteStatus writeImageEdited(const std::string& path, Image& image, const g4::RowSpans* changed) {
    if (!codedHere(image)) return writeImage(path, image);
    const std::uint32_t rps =
        std::min<std::uint32_t>(image.layout.rowsPerStrip, static_cast<std::uint32_t>(image.height));
    const g4::Rows rows{image.pixels.data(), image.stride, image.width};
    std::shared_ptr<const g4::ImageCode> code;
    bool spliced = false;
    if (image.g4Code && changed) {
        const g4::SpliceCost cost = g4::estimateSplice(*image.g4Code, image.width, image.height, rps, *changed);
        if (cost.possible && cost.splice < cost.full) {
            code = std::make_shared<const g4::ImageCode>(g4::splice(*image.g4Code, rows, *changed));
            spliced = true;
        }
    }
    if (!code) code = std::make_shared<const g4::ImageCode>(g4::encodeImage(rows, image.height, rps));
    WriteSettings ws;
    ws.compression = Compression::CcittG4;
    ws.layout = image.layout;
    ws.layout.rowsPerStrip = rps;
    ws.details = image.details;
    ws.precoded = code.get();
    WriteStatus status = writeThroughTemporary(path, image, image.format, ws);
    if (status.status == kStatusOk) {
        image.g4Code = std::move(code);
        status.spliced = spliced;
    }
    return status;
}

WriteStatus createImageFile(const std::string& path, FileFormat format, const Image& image) {
    if (!canWriteFormat(format))
        return writeFailure(kStatusCannotWriteFormat, path, "the host cannot write this file format");
    if (!formatHoldsMode(format, image.mode))
        return writeFailure(kStatusCannotWriteFormat, path, "the file format cannot hold this colour mode");
    WriteSettings ws;
    ws.compression = compressionFor(format, image.mode, image.compression);
    // Layout and details belong to the image's own format (or to a new image);
    // another format's details mean nothing to this writer.
    if (format == image.format || image.format == FileFormat::Unknown) {
        ws.layout = image.layout;
        ws.details = image.details;
    } else {
        ws.details.jpegQuality = image.details.jpegQuality;
    }
    return writeThroughTemporary(path, image, format, ws);
}

}  // namespace subhost::imagefile
