// TIFF through libtiff: strips and tiles, decoded and encoded whole strips or
// tiles at a time straight into and out of the image's packed rows (no
// per-pixel work except for 4-bit palettes, which are kept one index a byte).
// libtiff's messages are routed into the error text through per-file handlers.
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "subhost/imagefile/codecs.h"

namespace subhost::imagefile::detail {

namespace {

// Largest single block libtiff may take for one file, and largest tile accepted:
// a hostile header cannot make either take memory out of proportion.
constexpr tmsize_t kMaxLibtiffAllocation = tmsize_t{1} << 30;
constexpr tmsize_t kMaxTileBytes = tmsize_t{256} << 20;

// The first error, the first warning and the first directory-loop warning libtiff reported
// for one open file, the first message of either kind since `recent` was last cleared (one
// strip or tile's decode), and whether a write failed because the disk is full.
struct TiffMessages {
    std::string error;
    std::string warning;
    std::string loop;
    std::string recent;
    bool diskFull = false;
};

// Takes libtiff's module and message text, gives "module: text".
std::string tiffMessage(const char* module, const char* fmt, va_list args) {
    std::string text = vformat(fmt, args);
    return module && *module ? std::string(module) + ": " + text : text;
}

// libtiff calls the handlers right after the system call that failed: a full disk is
// told by errno then, where libtiff's own text only says that a write failed.
int tiffOnError(TIFF*, void* user, const char* module, const char* fmt, va_list args) {
    const int code = errno;
    auto* messages = static_cast<TiffMessages*>(user);
    if (!messages) return 1;
    if (code == ENOSPC || code == EDQUOT) messages->diskFull = true;
    const std::string text = tiffMessage(module, fmt, args);
    if (messages->error.empty()) messages->error = text;
    if (messages->recent.empty()) messages->recent = text;
    return 1;
}

// A looping directory chain (which libtiff only warns about, cutting the chain) is
// remembered: such a file is refused. A warning while pixels are decoded (a fax line
// of the wrong length, data ending early, a JPEG strip of the wrong size) is damage.
// The first warning also explains a failure that libtiff gives no error for.
int tiffOnWarning(TIFF*, void* user, const char* module, const char* fmt, va_list args) {
    auto* messages = static_cast<TiffMessages*>(user);
    if (!messages) return 1;
    const std::string text = tiffMessage(module, fmt, args);
    if (messages->loop.empty() && text.find("loop") != std::string::npos) messages->loop = text;
    if (messages->recent.empty()) messages->recent = text;
    if (messages->warning.empty()) messages->warning = text;
    return 1;
}

// libtiff reports some failures without the file's handle (an allocation, a codec set up
// before the file is known): those reach the process-wide handlers, which pass them to the
// messages of the file this thread is working on, instead of printing them to stderr.
struct TiffRouting {
    TiffMessages* current = nullptr;
};

thread_local TiffRouting t_routing;

void tiffGlobalError(thandle_t, const char* module, const char* fmt, va_list args) {
    if (t_routing.current) tiffOnError(nullptr, t_routing.current, module, fmt, args);
}

void tiffGlobalWarning(thandle_t, const char* module, const char* fmt, va_list args) {
    if (t_routing.current) tiffOnWarning(nullptr, t_routing.current, module, fmt, args);
}

// Routes handle-less libtiff messages to messages while it lives (installing the
// process-wide handlers on first use).
class TiffRoute {
public:
    explicit TiffRoute(TiffMessages& messages) : saved_(t_routing.current) {
        static const bool installed = [] {
            TIFFSetErrorHandler(nullptr);
            TIFFSetWarningHandler(nullptr);
            TIFFSetErrorHandlerExt(tiffGlobalError);
            TIFFSetWarningHandlerExt(tiffGlobalWarning);
            return true;
        }();
        (void)installed;
        t_routing.current = &messages;
    }
    ~TiffRoute() { t_routing.current = saved_; }
    TiffRoute(const TiffRoute&) = delete;
    TiffRoute& operator=(const TiffRoute&) = delete;

private:
    TiffMessages* saved_;
};

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

using OptionsPtr = std::unique_ptr<TIFFOpenOptions, OptionsFree>;

// Takes the message collector, gives open options that route libtiff's errors and warnings to it
// and bound its single allocations; null when there is no memory (said in messages).
OptionsPtr tiffOptions(TiffMessages& messages) {
    OptionsPtr options(TIFFOpenOptionsAlloc());
    if (!options) {
        messages.error = "out of memory";
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), tiffOnError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), tiffOnWarning, &messages);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxLibtiffAllocation);
    return options;
}

// Takes a path, fopen-like mode and the message collector (which must outlive the
// handle), gives the open file or null (the reason is in messages).
TiffPtr tiffOpen(const std::string& path, const char* mode, TiffMessages& messages) {
    OptionsPtr options = tiffOptions(messages);
    if (!options) return nullptr;
    TiffPtr tif(TIFFOpenExt(path.c_str(), mode, options.get()));
    if (!tif && messages.error.empty()) messages.error = "libtiff cannot open the file";
    return tif;
}

// Takes a source and the message collector (which must outlive the handle), gives the file
// open for reading through its own descriptor of the source, or null (the reason in messages).
TiffPtr tiffOpenSource(const Source& source, TiffMessages& messages) {
    OptionsPtr options = tiffOptions(messages);
    if (!options) return nullptr;
    std::string why;
    const int fd = duplicateAtStart(source, why);
    if (fd < 0) {
        messages.error = why;
        return nullptr;
    }
    // libtiff closes the descriptor with the handle; one it did not take is closed here.
    TiffPtr tif(TIFFFdOpenExt(fd, source.path.c_str(), "r", options.get()));
    if (!tif) {
        ::close(fd);
        if (messages.error.empty()) messages.error = "libtiff cannot open the file";
    }
    return tif;
}

// Takes what libtiff reported and the operation that failed (as "writing strip 3"), gives
// the reason in words: libtiff's error, else its warning, else the operation with the likely
// cause; a full disk is always said.
std::string libtiffSays(const TiffMessages& messages, const std::string& operation) {
    std::string text;
    if (!messages.error.empty())
        text = "libtiff: " + messages.error;
    else if (!messages.warning.empty())
        text = "libtiff warned: " + messages.warning;
    else if (messages.diskFull)
        text = operation + " failed";
    else
        text = "libtiff reported no error while " + operation + "; the file's data is damaged or cut short";
    if (messages.diskFull) text += "; the disk is full";
    return text;
}

Compression hostCompression(std::uint16_t code) {
    switch (code) {
    case COMPRESSION_NONE:
        return Compression::None;
    case COMPRESSION_CCITTRLE:
        return Compression::CcittRle;
    case COMPRESSION_CCITTFAX3:
        return Compression::CcittG3;
    case COMPRESSION_CCITTFAX4:
        return Compression::CcittG4;
    case COMPRESSION_LZW:
        return Compression::Lzw;
    case COMPRESSION_PACKBITS:
        return Compression::PackBits;
    case COMPRESSION_JPEG:
        return Compression::Jpeg;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return Compression::Deflate;
    default:
        return Compression::Unknown;
    }
}

std::uint16_t tiffCompression(Compression compression) {
    switch (compression) {
    case Compression::CcittRle:
        return COMPRESSION_CCITTRLE;
    case Compression::CcittG3:
        return COMPRESSION_CCITTFAX3;
    case Compression::CcittG4:
        return COMPRESSION_CCITTFAX4;
    case Compression::Lzw:
        return COMPRESSION_LZW;
    case Compression::PackBits:
        return COMPRESSION_PACKBITS;
    case Compression::Jpeg:
        return COMPRESSION_JPEG;
    case Compression::Deflate:
        return COMPRESSION_ADOBE_DEFLATE;
    default:
        return COMPRESSION_NONE;
    }
}

// Takes the sample layout of a directory, gives the host colour mode.
ColorMode tiffColorMode(std::uint16_t photometric, std::uint16_t bps, std::uint16_t spp, std::uint16_t planar,
                        std::uint16_t sampleFormat, std::uint16_t compression, std::uint16_t extraCount) {
    if (sampleFormat != SAMPLEFORMAT_UINT) return ColorMode::Other;
    if (spp > 1 && planar != PLANARCONFIG_CONTIG) return ColorMode::Other;
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        if (spp != 1) return ColorMode::Other;
        if (bps == 1) return ColorMode::Mono;
        if (bps == 8 && photometric == PHOTOMETRIC_MINISBLACK) return ColorMode::Grey8;
        return ColorMode::Other;
    case PHOTOMETRIC_PALETTE:
        if (spp != 1) return ColorMode::Other;
        if (bps == 4) return ColorMode::Palette4;
        if (bps == 8) return ColorMode::Palette8;
        return ColorMode::Other;
    case PHOTOMETRIC_RGB:
        if (bps != 8) return ColorMode::Other;
        if (spp == 3 && extraCount == 0) return ColorMode::Rgb;
        if (spp == 4 && extraCount == 1) return ColorMode::Rgba;
        return ColorMode::Other;
    case PHOTOMETRIC_YCBCR:
        if (bps == 8 && spp == 3 && compression == COMPRESSION_JPEG) return ColorMode::Rgb;
        return ColorMode::Other;
    default:
        return ColorMode::Other;
    }
}

// Tags never carried over: pointers to other directories, and codec or colour
// conversion tags that the writer derives from the image itself.
bool tiffTagSkipped(std::uint32_t tag, TIFFDataType type) {
    switch (tag) {
    case TIFFTAG_SUBIFD:
    case TIFFTAG_JPEGTABLES:
    case TIFFTAG_YCBCRCOEFFICIENTS:
    case TIFFTAG_REFERENCEBLACKWHITE:
    case TIFFTAG_EXIFIFD:
    case TIFFTAG_GPSIFD:
    case TIFFTAG_INTEROPERABILITYIFD:
        return true;
    default:
        break;
    }
    switch (type) {
    case TIFF_BYTE:
    case TIFF_SBYTE:
    case TIFF_UNDEFINED:
    case TIFF_ASCII:
    case TIFF_SHORT:
    case TIFF_SSHORT:
    case TIFF_LONG:
    case TIFF_SLONG:
    case TIFF_FLOAT:
    case TIFF_DOUBLE:
        return false;
    default:
        return true;  // rationals, 64-bit and directory types differ in memory and on disk
    }
}

// Takes an open file, keeps every custom tag it can carry in d.tiffTags.
void tiffCollectTags(TIFF* tif, FileDetails& d) {
    constexpr std::size_t kMaxCarriedBytes = 16u << 20;
    std::size_t total = 0;
    const int n = TIFFGetTagListCount(tif);
    for (int i = 0; i < n; ++i) {
        const std::uint32_t tag = TIFFGetTagListEntry(tif, i);
        const TIFFField* field = TIFFFieldWithTag(tif, tag);
        if (!field) continue;
        const TIFFDataType type = TIFFFieldDataType(field);
        if (tiffTagSkipped(tag, type)) continue;
        TiffTag carried;
        carried.tag = tag;
        carried.type = type;
        carried.passCount = TIFFFieldPassCount(field) != 0;
        carried.wideCount = TIFFFieldReadCount(field) == TIFF_VARIABLE2;
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (carried.passCount) {
            const int size = TIFFFieldSetGetSize(field);
            if (size != TIFFDataWidth(type)) continue;
            if (carried.wideCount) {
                std::uint32_t count = 0;
                if (!TIFFGetField(tif, tag, &count, &data)) continue;
                carried.count = count;
            } else {
                std::uint16_t count = 0;
                if (!TIFFGetField(tif, tag, &count, &data)) continue;
                carried.count = count;
            }
            bytes = static_cast<std::size_t>(carried.count) * static_cast<std::size_t>(size);
        } else if (type == TIFF_ASCII) {
            const char* text = nullptr;
            if (!TIFFGetField(tif, tag, &text) || !text) continue;
            data = text;
            bytes = std::strlen(text) + 1;
            carried.count = static_cast<std::uint32_t>(bytes);
        } else {
            continue;
        }
        if (!data || total + bytes > kMaxCarriedBytes) continue;
        total += bytes;
        const auto* begin = static_cast<const std::uint8_t*>(data);
        carried.data.assign(begin, begin + bytes);
        d.tiffTags.push_back(std::move(carried));
    }
}

// Takes a file opened for writing, sets the carried tags (registering the ones
// this libtiff does not know, as it does when reading them).
bool tiffSetCarriedTags(TIFF* tif, const FileDetails& d) {
    static char carriedName[] = "CarriedTag";
    for (const TiffTag& t : d.tiffTags) {
        if (t.data.empty()) continue;
        if (!TIFFFindField(tif, t.tag, TIFF_ANY)) {
            if (!t.passCount || !t.wideCount) continue;
            const TIFFFieldInfo info{
                t.tag, TIFF_VARIABLE2, TIFF_VARIABLE2, static_cast<TIFFDataType>(t.type), FIELD_CUSTOM, 1,
                1,     carriedName};
            if (TIFFMergeFieldInfo(tif, &info, 1) != 0) continue;
        }
        int ok = 0;
        void* value = const_cast<std::uint8_t*>(t.data.data());
        if (!t.passCount)
            ok = TIFFSetField(tif, t.tag, static_cast<const char*>(value));
        else if (t.wideCount)
            ok = TIFFSetField(tif, t.tag, t.count, value);
        else
            ok = TIFFSetField(tif, t.tag, static_cast<int>(t.count), value);
        if (!ok) return false;
    }
    return true;
}

bool tiffReadPalette(TIFF* tif, ImageInfo& image, std::string& why);

// Takes an open file, fills the header facts of its first directory; false with
// the reason for several images, a looping directory chain or unreadable tags.
bool tiffInfoFrom(TIFF* tif, TiffMessages& messages, ImageInfo& info, std::string& why) {
    tdir_t directories = TIFFNumberOfDirectories(tif);
    if (!messages.error.empty() || !messages.loop.empty()) {
        why = "damaged directory chain (" +
              (messages.loop.empty() ? libtiffSays(messages, "reading the directories") : "libtiff: " + messages.loop) +
              ")";
        return false;
    }
    if (directories > 1) {
        why =
            format("holds %u images; the host edits single-image TIFF files only", static_cast<unsigned>(directories));
        return false;
    }
    std::uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height)) {
        why = "no image size in the header";
        return false;
    }
    std::uint16_t bps = 1, spp = 1, planar = PLANARCONFIG_CONTIG, photometric = PHOTOMETRIC_MINISWHITE;
    std::uint16_t compression = COMPRESSION_NONE, fillOrder = FILLORDER_MSB2LSB, sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t resUnit = RESUNIT_INCH, extraCount = 0;
    std::uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &resUnit);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
        why = "no photometric interpretation in the header";
        return false;
    }
    if (width > kMaxSide || height > kMaxSide) {
        why = format("image size %u x %u exceeds the limit of %lld pixels a side", width, height,
                     static_cast<long long>(kMaxSide));
        return false;
    }
    info.width = static_cast<int>(width);
    info.height = static_cast<int>(height);
    info.bitsPerSample = bps;
    info.samplesPerPixel = spp;
    info.mode = tiffColorMode(photometric, bps, spp, planar, sampleFormat, compression, extraCount);
    info.compression = hostCompression(compression);
    info.photometric = photometric == PHOTOMETRIC_MINISBLACK ? Photometric::MinIsBlack : Photometric::MinIsWhite;

    float xres = 0, yres = 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres)) info.resolution.x = xres;
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres)) info.resolution.y = yres;
    info.resolution.unit = resUnit == RESUNIT_CENTIMETER ? ResolutionUnit::Centimetre
                           : resUnit == RESUNIT_NONE     ? ResolutionUnit::None
                                                         : ResolutionUnit::Inch;
    if (TIFFIsTiled(tif)) {
        info.layout.tiled = true;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &info.layout.tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &info.layout.tileHeight);
        info.layout.rowsPerStrip = 0;
    } else {
        std::uint32_t rps = height;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
        info.layout.rowsPerStrip = std::min(rps, height);
    }
    FileDetails& d = info.details;
    d.tiffPhotometric = photometric;
    if (photometric == PHOTOMETRIC_YCBCR)
        TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &d.chromaSubsampling[0], &d.chromaSubsampling[1]);
    d.fillOrder = fillOrder;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &d.orientation);
    if (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ||
        compression == COMPRESSION_DEFLATE)
        TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &d.predictor);
    if (compression == COMPRESSION_CCITTFAX3) TIFFGetFieldDefaulted(tif, TIFFTAG_GROUP3OPTIONS, &d.group3Options);
    if (compression == COMPRESSION_CCITTFAX4)
        d.group4OptionsTagged = TIFFGetField(tif, TIFFTAG_GROUP4OPTIONS, &d.group4Options) != 0;
    if (extraCount == 1 && extraTypes) d.extraSample = extraTypes[0] == EXTRASAMPLE_ASSOCALPHA ? 1 : 2;
    d.bigTiff = TIFFIsBigTIFF(tif) != 0;
    d.bigEndian = TIFFIsBigEndian(tif) != 0;
    tiffCollectTags(tif, d);
    // The colour map is a tag: the palette comes with the header. A palette file without one
    // keeps the default palette here; its decode refuses it.
    setDefaultPalette(info);
    std::string noMap;
    if (info.mode == ColorMode::Palette4 || info.mode == ColorMode::Palette8) tiffReadPalette(tif, info, noMap);
    return true;
}

// Takes a palette file, fills image.palette from its colour map (16-bit entries,
// or 8-bit values written into 16-bit fields as some writers do).
bool tiffReadPalette(TIFF* tif, ImageInfo& image, std::string& why) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) {
        why = "palette image without a colour map";
        return false;
    }
    int count = 1 << image.bitsPerSample;
    bool eightBit = true;
    for (int i = 0; i < count; ++i)
        if (red[i] > 255 || green[i] > 255 || blue[i] > 255) eightBit = false;
    int shift = eightBit ? 0 : 8;
    image.palette.fill(Rgb8{0, 0, 0});
    for (int i = 0; i < count; ++i)
        image.palette[static_cast<std::size_t>(i)] =
            Rgb8{static_cast<std::uint8_t>(red[i] >> shift), static_cast<std::uint8_t>(green[i] >> shift),
                 static_cast<std::uint8_t>(blue[i] >> shift)};
    image.paletteCount = count;
    return true;
}

// Takes packed 4-bit rows, spreads them to one index a byte.
void unpackNibbles(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) dst[i] = (i & 1) ? (src[i / 2] & 0x0F) : (src[i / 2] >> 4);
}

// Takes rows of one index a byte, packs two a byte.
void packNibbles(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; i += 2) {
        std::uint8_t hi = src[i] & 0x0F, lo = i + 1 < pixels ? (src[i + 1] & 0x0F) : 0;
        dst[i / 2] = static_cast<std::uint8_t>((hi << 4) | lo);
    }
}

// Bytes a row takes in the file (4-bit palettes packed two a byte).
std::size_t fileRowBytes(const Image& image, std::size_t pixels) {
    return image.mode == ColorMode::Palette4 ? (pixels + 1) / 2 : rowBytes(image.mode, static_cast<int>(pixels));
}

// The name of the coding whose data is damaged, as the user knows it.
const char* codingName(Compression compression) {
    switch (compression) {
    case Compression::CcittRle:
    case Compression::CcittG3:
    case Compression::CcittG4:
        return "CCITT";
    case Compression::Lzw:
        return "LZW";
    case Compression::PackBits:
        return "PackBits";
    case Compression::Jpeg:
        return "JPEG";
    case Compression::Deflate:
        return "Deflate";
    default:
        return "uncompressed TIFF";
    }
}

// One strip or tile: where it decodes to and which image rows it holds.
struct TiffBlock {
    bool tiled = false;
    std::uint32_t index = 0;
    std::uint8_t* buffer = nullptr;  // the image's rows, or scratch in the file's row format
    tmsize_t size = 0;               // bytes the block decodes to
    std::size_t rowBytes = 0;        // bytes a row takes in the buffer
    std::size_t firstRow = 0;        // image row of the buffer's first row
    std::size_t rows = 0;
};

tmsize_t tiffDecode(TIFF* tif, const TiffBlock& b, std::uint8_t* buffer) {
    return b.tiled ? TIFFReadEncodedTile(tif, b.index, buffer, b.size)
                   : TIFFReadEncodedStrip(tif, b.index, buffer, b.size);
}

// Decodes one strip or tile. A decode that fails, comes out short or makes libtiff warn is
// damage: the block is decoded again over the paper value and over its complement, so that
// every byte the decoder did not produce is known and set to paper (which also gives the row
// where decoding broke off). Gives true for a whole block, or damage accepted; false with the
// damage as the reason otherwise.
bool tiffDecodeBlock(TIFF* tif, TiffMessages& messages, const Image& image, const TiffBlock& b, DamageReport& damage,
                     std::string& why) {
    messages.recent.clear();
    const tmsize_t got = tiffDecode(tif, b, b.buffer);
    if (got == b.size && messages.recent.empty()) return true;
    const std::string said = messages.recent.empty() ? format("it decodes to %lld of %lld bytes",
                                                              static_cast<long long>(std::max<tmsize_t>(got, 0)),
                                                              static_cast<long long>(b.size))
                                                     : "libtiff: " + messages.recent;
    const std::uint8_t paperPixel = paperValue(image);
    const std::uint8_t paper =
        image.mode == ColorMode::Palette4 ? static_cast<std::uint8_t>((paperPixel << 4) | paperPixel) : paperPixel;
    const std::size_t bytes = static_cast<std::size_t>(b.size);
    std::vector<std::uint8_t> again;
    try {
        again.assign(bytes, static_cast<std::uint8_t>(~paper));
    } catch (const std::bad_alloc&) {
        why = "not enough memory to look at a damaged " + std::string(b.tiled ? "tile" : "strip");
        return false;
    }
    std::memset(b.buffer, paper, bytes);
    tiffDecode(tif, b, b.buffer);
    tiffDecode(tif, b, again.data());
    const std::size_t produced = paperWhereUnproduced(b.buffer, again.data(), bytes, paper);
    std::string where;
    // The fax decoders name the line of the strip or tile where the coding went wrong.
    const std::size_t line = messages.recent.find(" at line ");
    unsigned faxLine = 0;
    char of[8] = "";
    if (line != std::string::npos &&
        std::sscanf(messages.recent.c_str() + line, " at line %u %7s", &faxLine, of) == 2 &&
        std::strcmp(of, "of") == 0 && faxLine < b.rows) {
        where = format("row %zu", b.firstRow + faxLine);
    } else if (produced < bytes && b.rowBytes > 0) {
        // A break at the start of a row came from the row before it.
        std::size_t row = produced / b.rowBytes;
        if (produced % b.rowBytes == 0 && row > 0) --row;
        where = format("row %zu", b.firstRow + std::min(row, b.rows - 1));
    } else {
        where = format("rows %zu-%zu", b.firstRow, b.firstRow + b.rows - 1);
    }
    const std::string text = format("damaged %s data in %s (%s %u; %s)", codingName(image.compression), where.c_str(),
                                    b.tiled ? "tile" : "strip", static_cast<unsigned>(b.index), said.c_str());
    if (damage.what.empty()) damage.what = text;
    if (!damage.accept) {
        why = text;
        return false;
    }
    return true;
}

// Decodes the strips of a monochrome G4 file with the decoder here, keeping their code and where
// each row's code starts in image.g4Code. Gives false (the image's pixels partly written) for
// anything the decoder refuses or that cannot be read; the caller then decodes through libtiff.
bool tiffReadG4Strips(TIFF* tif, Image& image, std::uint64_t fileSize) {
    const std::uint32_t rps = std::max<std::uint32_t>(1, image.layout.rowsPerStrip);
    const tstrip_t strips = TIFFNumberOfStrips(tif);
    if (static_cast<std::uint64_t>(strips) * rps < static_cast<std::uint64_t>(image.height)) return false;
    auto code = std::make_shared<g4::ImageCode>();
    code->width = image.width;
    code->height = image.height;
    code->rowsPerStrip = rps;
    const std::size_t needed = (static_cast<std::size_t>(image.height) + rps - 1) / rps;
    std::vector<std::uint8_t> raw;
    std::uint64_t total = 0;
    for (std::size_t s = 0; s < needed; ++s) {
        const std::uint64_t bytes = TIFFGetStrileByteCount(tif, static_cast<std::uint32_t>(s));
        total += bytes;
        if (bytes == 0 || total > fileSize) return false;
        raw.resize(static_cast<std::size_t>(bytes));
        if (TIFFReadRawStrip(tif, static_cast<std::uint32_t>(s), raw.data(), static_cast<tmsize_t>(bytes)) !=
            static_cast<tmsize_t>(bytes))
            return false;
        if (image.details.fillOrder == FILLORDER_LSB2MSB) g4::reverseBits(raw.data(), raw.size());
        const std::size_t firstRow = s * rps;
        const int rows =
            static_cast<int>(std::min<std::size_t>(rps, static_cast<std::size_t>(image.height) - firstRow));
        g4::StripCode strip;
        std::string why;
        if (!g4::decodeStrip(raw.data(), raw.size(), image.width, rows, image.pixels.data() + firstRow * image.stride,
                             image.stride, strip, why))
            return false;
        code->strips.push_back(std::move(strip));
    }
    image.g4Code = std::move(code);
    return true;
}

bool tiffReadStrips(TIFF* tif, TiffMessages& messages, Image& image, DamageReport& damage, std::string& why) {
    const std::uint32_t rps = std::max<std::uint32_t>(1, image.layout.rowsPerStrip);
    const std::size_t fileRow = fileRowBytes(image, static_cast<std::size_t>(image.width));
    std::vector<std::uint8_t> scratch;
    if (image.mode == ColorMode::Palette4) scratch.resize(fileRow * rps);
    const tstrip_t strips = TIFFNumberOfStrips(tif);
    std::size_t rowsRead = 0;
    for (tstrip_t s = 0; s < strips; ++s) {
        std::uint64_t firstRow = static_cast<std::uint64_t>(s) * rps;
        if (firstRow >= static_cast<std::uint64_t>(image.height)) break;
        std::size_t rows = static_cast<std::size_t>(std::min<std::uint64_t>(rps, image.height - firstRow));
        std::uint8_t* dst = image.pixels.data() + firstRow * image.stride;
        TiffBlock block;
        block.index = s;
        block.buffer = scratch.empty() ? dst : scratch.data();
        block.size = static_cast<tmsize_t>(rows * fileRow);
        block.rowBytes = fileRow;
        block.firstRow = static_cast<std::size_t>(firstRow);
        block.rows = rows;
        if (!tiffDecodeBlock(tif, messages, image, block, damage, why)) return false;
        rowsRead = static_cast<std::size_t>(firstRow) + rows;
        if (!scratch.empty())
            for (std::size_t r = 0; r < rows; ++r)
                unpackNibbles(scratch.data() + r * fileRow, dst + r * image.stride,
                              static_cast<std::size_t>(image.width));
    }
    // Rows no strip covers (a file with too few strips) are missing data.
    if (rowsRead < static_cast<std::size_t>(image.height)) {
        const std::string text = format("no %s data for rows %zu-%d (the file's strips end there)",
                                        codingName(image.compression), rowsRead, image.height - 1);
        if (damage.what.empty()) damage.what = text;
        if (!damage.accept) {
            why = text;
            return false;
        }
        fillPaper(image, rowsRead, static_cast<std::size_t>(image.height) - rowsRead);
    }
    return true;
}

bool tiffReadTiles(TIFF* tif, TiffMessages& messages, Image& image, DamageReport& damage, std::string& why) {
    const std::uint32_t tw = image.layout.tileWidth, th = image.layout.tileHeight;
    if (tw == 0 || th == 0 || tw % 16 != 0 || th % 16 != 0) {
        why = format("invalid tile size %u x %u", tw, th);
        return false;
    }
    const std::size_t tileRow = fileRowBytes(image, tw);
    if (TIFFTileSize(tif) <= 0 || TIFFTileSize(tif) > kMaxTileBytes) {
        why = format("tile size %u x %u is out of proportion", tw, th);
        return false;
    }
    std::vector<std::uint8_t> tile;
    try {
        tile.resize(static_cast<std::size_t>(std::max<tmsize_t>(TIFFTileSize(tif), 0)));
    } catch (const std::bad_alloc&) {
        why = "not enough memory for a tile";
        return false;
    }
    if (tile.size() < tileRow * th) {
        why = "unexpected tile size";
        return false;
    }
    for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(image.height); y += th) {
        for (std::uint32_t x = 0; x < static_cast<std::uint32_t>(image.width); x += tw) {
            std::size_t cols = std::min<std::size_t>(tw, static_cast<std::size_t>(image.width) - x);
            std::size_t rows = std::min<std::size_t>(th, static_cast<std::size_t>(image.height) - y);
            TiffBlock block;
            block.tiled = true;
            block.index = TIFFComputeTile(tif, x, y, 0, 0);
            block.buffer = tile.data();
            block.size = static_cast<tmsize_t>(tile.size());
            block.rowBytes = tileRow;
            block.firstRow = y;
            block.rows = rows;
            if (!tiffDecodeBlock(tif, messages, image, block, damage, why)) return false;
            std::size_t dstOffset = image.mode == ColorMode::Palette4 ? x : rowBytes(image.mode, static_cast<int>(x));
            std::size_t bytes = std::min(rowBytes(image.mode, static_cast<int>(x + cols)) - dstOffset, tileRow);
            for (std::size_t r = 0; r < rows; ++r) {
                std::uint8_t* dst = image.pixels.data() + (y + r) * image.stride + dstOffset;
                if (image.mode == ColorMode::Palette4)
                    unpackNibbles(tile.data() + r * tileRow, dst, cols);
                else
                    std::memcpy(dst, tile.data() + r * tileRow, bytes);
            }
        }
    }
    return true;
}

std::uint16_t tiffPhotometricFor(const Image& image, const WriteSettings& ws) {
    switch (image.mode) {
    case ColorMode::Mono:
        return image.photometric == Photometric::MinIsBlack ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE;
    case ColorMode::Palette4:
    case ColorMode::Palette8:
        return PHOTOMETRIC_PALETTE;
    case ColorMode::Grey8:
        return PHOTOMETRIC_MINISBLACK;
    default:
        return ws.compression == Compression::Jpeg && ws.details.tiffPhotometric == PHOTOMETRIC_YCBCR
                   ? PHOTOMETRIC_YCBCR
                   : PHOTOMETRIC_RGB;
    }
}

// Takes a file opened for writing, sets every tag of the image's directory.
bool tiffSetTags(TIFF* tif, const Image& image, const WriteSettings& ws, std::string& why) {
    const bool palette = image.mode == ColorMode::Palette4 || image.mode == ColorMode::Palette8;
    const std::uint16_t bps = image.mode == ColorMode::Mono ? 1 : image.mode == ColorMode::Palette4 ? 4 : 8;
    const std::uint16_t spp = image.mode == ColorMode::Rgb ? 3 : image.mode == ColorMode::Rgba ? 4 : 1;
    const std::uint16_t photometric = tiffPhotometricFor(image, ws);
    const std::uint16_t compression = tiffCompression(ws.compression);
    bool ok =
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.width)) &&
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.height)) &&
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bps) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp) &&
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
        TIFFSetField(tif, TIFFTAG_ORIENTATION,
                     ws.details.orientation >= ORIENTATION_TOPLEFT && ws.details.orientation <= ORIENTATION_LEFTBOT
                         ? ws.details.orientation
                         : ORIENTATION_TOPLEFT) &&
        TIFFSetField(tif, TIFFTAG_COMPRESSION, compression) && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    if (ok && ws.details.fillOrder == FILLORDER_LSB2MSB) ok = TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    if (ok && image.mode == ColorMode::Rgba) {
        std::uint16_t extra = ws.details.extraSample == 1 ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
        ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (ok && palette) {
        std::vector<std::uint16_t> r(1u << bps), g(1u << bps), b(1u << bps);
        for (std::size_t i = 0; i < r.size(); ++i) {
            r[i] = static_cast<std::uint16_t>(image.palette[i][0] * 257);
            g[i] = static_cast<std::uint16_t>(image.palette[i][1] * 257);
            b[i] = static_cast<std::uint16_t>(image.palette[i][2] * 257);
        }
        ok = TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    if (ok && image.resolution.x > 0 && image.resolution.y > 0) {
        std::uint16_t unit = image.resolution.unit == ResolutionUnit::Centimetre ? RESUNIT_CENTIMETER
                             : image.resolution.unit == ResolutionUnit::None     ? RESUNIT_NONE
                                                                                 : RESUNIT_INCH;
        ok = TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(image.resolution.x)) &&
             TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(image.resolution.y)) &&
             TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, unit);
    }
    if (ok && (ws.compression == Compression::Lzw || ws.compression == Compression::Deflate) &&
        ws.details.predictor == PREDICTOR_HORIZONTAL && bps == 8)
        ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (ok && ws.compression == Compression::CcittG3 && ws.details.group3Options != 0)
        ok = TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, ws.details.group3Options);
    if (ok && ws.compression == Compression::CcittG4 &&
        (ws.details.group4Options != 0 || ws.details.group4OptionsTagged))
        ok = TIFFSetField(tif, TIFFTAG_GROUP4OPTIONS, ws.details.group4Options);
    if (ok && ws.compression == Compression::Jpeg) {
        ok = TIFFSetField(tif, TIFFTAG_JPEGQUALITY, std::clamp(ws.details.jpegQuality, 1, 100));
        if (ok && photometric == PHOTOMETRIC_YCBCR) {
            auto valid = [](std::uint16_t f) { return f == 1 || f == 2 || f == 4; };
            const std::uint16_t h = ws.details.chromaSubsampling[0], v = ws.details.chromaSubsampling[1];
            ok = TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, valid(h) ? h : 2, valid(v) && v <= h ? v : 2) &&
                 TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        }
    }
    if (ok) ok = tiffSetCarriedTags(tif, ws.details);
    if (ok && ws.layout.tiled) {
        ok = TIFFSetField(tif, TIFFTAG_TILEWIDTH, ws.layout.tileWidth) &&
             TIFFSetField(tif, TIFFTAG_TILELENGTH, ws.layout.tileHeight);
    } else if (ok) {
        std::uint32_t rps = ws.layout.rowsPerStrip;
        if (rps == 0) rps = TIFFDefaultStripSize(tif, 0);
        if (ws.compression == Compression::Jpeg) rps = (rps + 15) / 16 * 16;
        rps = std::clamp<std::uint32_t>(rps, 1, static_cast<std::uint32_t>(image.height));
        ok = TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
    }
    if (!ok) why = "cannot set the file's tags";
    return ok;
}

// Takes image rows, gives them in the file's row format in `out` (4-bit packed,
// or copied where libtiff would change the data it is handed).
void fileRows(const Image& image, std::size_t firstRow, std::size_t rows, std::size_t firstCol, std::size_t cols,
              std::size_t outRowBytes, std::uint8_t* out) {
    for (std::size_t r = 0; r < rows; ++r) {
        const std::uint8_t* src = image.pixels.data() + (firstRow + r) * image.stride;
        std::uint8_t* dst = out + r * outRowBytes;
        if (image.mode == ColorMode::Palette4) {
            packNibbles(src + firstCol, dst, cols);
        } else {
            std::size_t start = rowBytes(image.mode, static_cast<int>(firstCol));
            std::size_t bytes = rowBytes(image.mode, static_cast<int>(firstCol + cols)) - start;
            std::memcpy(dst, src + start, std::min(bytes, outRowBytes));
        }
    }
}

// Writes strips coded beforehand as they are (bit-reversed for a least-significant-first file).
bool tiffWriteCodedStrips(TIFF* tif, TiffMessages& messages, const g4::ImageCode& code, const WriteSettings& ws,
                          std::string& why) {
    std::vector<std::uint8_t> reversed;
    for (std::size_t s = 0; s < code.strips.size(); ++s) {
        const std::vector<std::uint8_t>& bytes = code.strips[s].bytes;
        const std::uint8_t* data = bytes.data();
        if (ws.details.fillOrder == FILLORDER_LSB2MSB) {
            reversed = bytes;
            g4::reverseBits(reversed.data(), reversed.size());
            data = reversed.data();
        }
        if (TIFFWriteRawStrip(tif, static_cast<std::uint32_t>(s), const_cast<std::uint8_t*>(data),
                              static_cast<tmsize_t>(bytes.size())) < 0) {
            why =
                format("cannot write strip %zu (%s)", s, libtiffSays(messages, format("writing strip %zu", s)).c_str());
            return false;
        }
    }
    return true;
}

bool tiffWriteStrips(TIFF* tif, TiffMessages& messages, const Image& image, const WriteSettings& ws, std::string& why) {
    std::uint32_t rps = 0;
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rps);
    rps = std::max<std::uint32_t>(rps, 1);
    if (ws.precoded) {
        if (ws.precoded->rowsPerStrip != rps || ws.precoded->strips.size() != TIFFNumberOfStrips(tif) ||
            ws.precoded->width != image.width || ws.precoded->height != image.height) {
            why = "the coded strips do not fit the file's strips";
            return false;
        }
        return tiffWriteCodedStrips(tif, messages, *ws.precoded, ws, why);
    }
    const std::size_t fileRow = fileRowBytes(image, static_cast<std::size_t>(image.width));
    // libtiff changes the data it is handed for a predictor, and reverses the bits
    // of uncompressed data in place for least-significant-bit-first files.
    const bool copy = image.mode == ColorMode::Palette4 || ws.details.predictor != PREDICTOR_NONE ||
                      (ws.compression == Compression::None && ws.details.fillOrder == FILLORDER_LSB2MSB);
    std::vector<std::uint8_t> scratch;
    if (copy) scratch.resize(fileRow * std::min<std::size_t>(rps, static_cast<std::size_t>(image.height)));
    const tstrip_t strips = TIFFNumberOfStrips(tif);
    for (tstrip_t s = 0; s < strips; ++s) {
        std::size_t firstRow = static_cast<std::size_t>(s) * rps;
        std::size_t rows = std::min<std::size_t>(rps, static_cast<std::size_t>(image.height) - firstRow);
        // Otherwise libtiff only reads the rows it is handed.
        std::uint8_t* data = const_cast<std::uint8_t*>(image.pixels.data()) + firstRow * image.stride;
        if (copy) {
            fileRows(image, firstRow, rows, 0, static_cast<std::size_t>(image.width), fileRow, scratch.data());
            data = scratch.data();
        }
        if (TIFFWriteEncodedStrip(tif, s, data, static_cast<tmsize_t>(rows * fileRow)) < 0) {
            why = format("cannot encode strip %u (%s)", static_cast<unsigned>(s),
                         libtiffSays(messages, format("writing strip %u", static_cast<unsigned>(s))).c_str());
            return false;
        }
    }
    return true;
}

bool tiffWriteTiles(TIFF* tif, TiffMessages& messages, const Image& image, const WriteSettings& ws, std::string& why) {
    const std::uint32_t tw = ws.layout.tileWidth, th = ws.layout.tileHeight;
    const std::size_t tileRow = fileRowBytes(image, tw);
    std::vector<std::uint8_t> tile(static_cast<std::size_t>(std::max<tmsize_t>(TIFFTileSize(tif), 0)));
    if (tile.size() < tileRow * th) {
        why = "unexpected tile size";
        return false;
    }
    for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(image.height); y += th) {
        for (std::uint32_t x = 0; x < static_cast<std::uint32_t>(image.width); x += tw) {
            std::size_t cols = std::min<std::size_t>(tw, static_cast<std::size_t>(image.width) - x);
            std::size_t rows = std::min<std::size_t>(th, static_cast<std::size_t>(image.height) - y);
            if (cols < tw || rows < th) std::fill(tile.begin(), tile.end(), 0);
            fileRows(image, y, rows, x, cols, tileRow, tile.data());
            ttile_t index = TIFFComputeTile(tif, x, y, 0, 0);
            if (TIFFWriteEncodedTile(tif, index, tile.data(), static_cast<tmsize_t>(tile.size())) < 0) {
                why = format("cannot encode tile %u (%s)", static_cast<unsigned>(index),
                             libtiffSays(messages, format("writing tile %u", static_cast<unsigned>(index))).c_str());
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool tiffReadInfo(const Source& source, ImageInfo& info, std::string& why) {
    TiffMessages messages;
    TiffRoute route(messages);
    TiffPtr tif = tiffOpenSource(source, messages);
    if (!tif) {
        why = "not a readable TIFF file (" + libtiffSays(messages, "opening the file") + ")";
        return false;
    }
    return tiffInfoFrom(tif.get(), messages, info, why);
}

bool tiffRead(const Source& source, Image& image, DamageReport& damage, std::string& why) {
    TiffMessages messages;
    TiffRoute route(messages);
    TiffPtr tif = tiffOpenSource(source, messages);
    if (!tif) {
        why = "not a readable TIFF file (" + libtiffSays(messages, "opening the file") + ")";
        return false;
    }
    TIFF* t = tif.get();
    if (!tiffInfoFrom(t, messages, image, why) || !checkDecodable(image, why)) return false;
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    if (image.compression == Compression::Unknown || !TIFFIsCODECConfigured(compression)) {
        why = format("unsupported TIFF compression %u", compression);
        return false;
    }
    if (image.details.tiffPhotometric == PHOTOMETRIC_YCBCR) TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const std::size_t fileRow = fileRowBytes(image, static_cast<std::size_t>(image.width));
    if (static_cast<std::uint64_t>(TIFFScanlineSize64(t)) != fileRow) {
        why = "unexpected row length for the colour layout";
        return false;
    }
    if (!allocatePixels(image, why)) return false;
    setDefaultPalette(image);
    if ((image.mode == ColorMode::Palette4 || image.mode == ColorMode::Palette8) && !tiffReadPalette(t, image, why))
        return false;
    if (image.layout.tiled) return tiffReadTiles(t, messages, image, damage, why);
    if (image.mode == ColorMode::Mono && image.compression == Compression::CcittG4 &&
        tiffReadG4Strips(t, image, source.size))
        return true;
    return tiffReadStrips(t, messages, image, damage, why);
}

bool tiffWrite(const std::string& path, const Image& image, const WriteSettings& settings, std::string& why) {
    WriteSettings ws = settings;
    if (ws.layout.tiled && (ws.layout.tileWidth == 0 || ws.layout.tileHeight == 0 || ws.layout.tileWidth % 16 != 0 ||
                            ws.layout.tileHeight % 16 != 0))
        ws.layout = Layout{};
    if (ws.compression != Compression::Lzw && ws.compression != Compression::Deflate)
        ws.details.predictor = PREDICTOR_NONE;
    if (ws.details.predictor != PREDICTOR_HORIZONTAL) ws.details.predictor = PREDICTOR_NONE;

    std::string mode = "w";
    if (ws.details.bigTiff) mode += "8";
    mode += ws.details.bigEndian ? "b" : "l";
    TiffMessages messages;
    TiffRoute route(messages);
    TiffPtr tif = tiffOpen(path, mode.c_str(), messages);
    if (!tif) {
        why = "cannot create the file (" + libtiffSays(messages, "creating the file") + ")";
        return false;
    }
    if (!tiffSetTags(tif.get(), image, ws, why)) return false;
    bool ok = true;
    if (ws.layout.tiled)
        ok = tiffWriteTiles(tif.get(), messages, image, ws, why);
    else
        ok = tiffWriteStrips(tif.get(), messages, image, ws, why);
    if (ok && !TIFFFlush(tif.get())) {
        why = "cannot finish the file (" + libtiffSays(messages, "writing the directory at the end of the file") + ")";
        ok = false;
    }
    return ok;
}

}  // namespace subhost::imagefile::detail
