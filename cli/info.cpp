// pixelmend info: what the host knows of raster files: format, compression, colour mode, size,
// resolution, palette and, for monochrome files, which colour is ink and which is background.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "subhost/imagefile/imagefile.h"

namespace pixelmend {
namespace {

namespace img = subhost::imagefile;

constexpr int kPaletteEntriesShown = 4;

const char* formatName(img::FileFormat f) {
    switch (f) {
    case img::FileFormat::Tiff:
        return "TIFF";
    case img::FileFormat::Png:
        return "PNG";
    case img::FileFormat::Jpeg:
        return "JPEG";
    case img::FileFormat::Bmp:
        return "BMP";
    case img::FileFormat::Gif:
        return "GIF";
    default:
        return "unknown";
    }
}

const char* compressionName(img::Compression c) {
    switch (c) {
    case img::Compression::None:
        return "none";
    case img::Compression::CcittRle:
        return "CCITT modified Huffman";
    case img::Compression::CcittG3:
        return "CCITT Group 3";
    case img::Compression::CcittG4:
        return "CCITT Group 4";
    case img::Compression::Lzw:
        return "LZW";
    case img::Compression::PackBits:
        return "PackBits";
    case img::Compression::Jpeg:
        return "JPEG";
    case img::Compression::Deflate:
        return "deflate";
    default:
        return "unknown";
    }
}

const char* modeName(img::ColorMode m) {
    switch (m) {
    case img::ColorMode::Rgb:
        return "24-bit colour";
    case img::ColorMode::Palette4:
        return "16-colour palette";
    case img::ColorMode::Palette8:
        return "256-colour palette";
    case img::ColorMode::Grey8:
        return "8-bit grey";
    case img::ColorMode::Mono:
        return "monochrome";
    case img::ColorMode::Rgba:
        return "32-bit colour with alpha";
    default:
        return "other layout (not decoded by the host)";
    }
}

const char* unitName(img::ResolutionUnit u) {
    switch (u) {
    case img::ResolutionUnit::Inch:
        return "dots per inch";
    case img::ResolutionUnit::Centimetre:
        return "dots per centimetre";
    default:
        return "(aspect ratio only)";
    }
}

// "black", "white" or "#rrggbb".
std::string colourName(const img::Rgb8& c) {
    if (c == img::Rgb8{0, 0, 0}) return "black";
    if (c == img::Rgb8{255, 255, 255}) return "white";
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c[0], c[1], c[2]);
    return text;
}

int brightness(const img::Rgb8& c) { return 299 * c[0] + 587 * c[1] + 114 * c[2]; }

// The palette of a decoded image: a grey ramp, or its size and first entries.
std::string paletteSummary(const img::Image& image) {
    bool ramp = image.paletteCount > 2;
    for (int i = 0; ramp && i < image.paletteCount; ++i) {
        const int level = image.paletteCount == 256 ? i : i * 255 / (image.paletteCount - 1);
        ramp =
            image.palette[std::size_t(i)] == img::Rgb8{std::uint8_t(level), std::uint8_t(level), std::uint8_t(level)};
    }
    if (ramp) return "grey ramp (" + std::to_string(image.paletteCount) + " entries)";
    std::string out = std::to_string(image.paletteCount) + " entries";
    for (int i = 0; i < image.paletteCount && i < kPaletteEntriesShown; ++i)
        out += (i == 0 ? ": " : ", ") + std::to_string(i) + " " + colourName(image.palette[std::size_t(i)]);
    if (image.paletteCount > kPaletteEntriesShown) out += ", ...";
    return out;
}

// Ink and background of a monochrome image: the colour most of its pixels have is the background.
std::string polarity(const img::Image& image) {
    std::uint64_t ones = 0;
    const std::size_t fullBytes = std::size_t(image.width / 8);
    const int rest = image.width % 8;
    const auto restMask = std::uint8_t(0xFF00 >> rest);
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = &image.pixels[std::size_t(y) * image.stride];
        for (std::size_t b = 0; b < fullBytes; ++b) ones += std::uint64_t(__builtin_popcount(row[b]));
        if (rest) ones += std::uint64_t(__builtin_popcount(row[fullBytes] & restMask));
    }
    const std::uint64_t total = std::uint64_t(image.width) * std::uint64_t(image.height);
    const bool oneIsBackground = ones * 2 > total;
    const img::Rgb8& background = image.palette[oneIsBackground ? 1 : 0];
    const img::Rgb8& ink = image.palette[oneIsBackground ? 0 : 1];
    std::string out = colourName(ink) + " ink on " + colourName(background) + " background";
    if (brightness(background) < brightness(ink)) out += " (negative)";
    return out;
}

// Prints one file's facts; false with the reason on stderr (also for a file whose pixels are
// over the limit or damaged: the facts are printed all the same).
bool printInfo(const std::string& path, const img::ReadOptions& options, std::ostream& out) {
    const img::InfoResult header = img::readInfo(path);
    if (!header.ok) {
        std::cerr << "pixelmend: info: " << header.error << "\n";
        return false;
    }
    const img::ImageInfo& info = header.info;
    std::ostringstream text;
    text << path << "\n"
         << "  format: " << formatName(info.format) << " (" << int(info.format) << ")\n"
         << "  compression: " << compressionName(info.compression) << " (" << int(info.compression) << ")\n"
         << "  colour mode: " << modeName(info.mode) << " (" << int(info.mode) << "), " << info.bitsPerSample
         << " bit(s) a sample, " << info.samplesPerPixel << " sample(s) a pixel\n"
         << "  size: " << info.width << " x " << info.height << " pixels\n";
    if (info.resolution.x > 0)
        text << "  resolution: " << info.resolution.x << " x " << info.resolution.y << " "
             << unitName(info.resolution.unit) << "\n";
    const bool rampOnly =
        info.mode == img::ColorMode::Grey8 || info.mode == img::ColorMode::Rgb || info.mode == img::ColorMode::Rgba;
    if (rampOnly)
        text << (info.mode == img::ColorMode::Grey8 ? "  palette: none (grey ramp)\n"
                                                    : "  palette: none (direct colour)\n");
    if (info.mode == img::ColorMode::Other) {
        out << text.str();
        return true;
    }
    // The pixels are decoded only within the limit: they give the palette, the polarity and
    // whether the data is whole. Damaged data is read as far as it goes, to be reported.
    std::string why;
    if (!img::withinReadLimits(info, options, why)) {
        text << "  pixels: not decoded: " << why << "\n";
        out << text.str();
        std::cerr << "pixelmend: info: " << path << ": " << why << "\n";
        return false;
    }
    img::ReadOptions reporting = options;
    reporting.acceptDamaged = true;
    const img::ImageResult image = img::readImage(path, reporting);
    if (!image.ok) {
        std::cerr << "pixelmend: info: " << image.error << "\n";
        out << text.str();
        return false;
    }
    if (!rampOnly) text << "  palette: " << paletteSummary(image.image) << "\n";
    if (!image.damage.empty()) {
        text << "  damaged: " << image.damage << "\n";
        if (info.mode == img::ColorMode::Mono) text << "  polarity: not counted (the pixel data is damaged)\n";
        out << text.str();
        std::cerr << "pixelmend: info: " << path << " is damaged: " << image.damage << "\n";
        return false;
    }
    if (info.mode == img::ColorMode::Mono) text << "  polarity: " << polarity(image.image) << "\n";
    out << text.str();
    return true;
}

}  // namespace

int runInfo(Args args) {
    if (args.empty()) return usageError("info needs at least one FILE");
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::cout << "usage: pixelmend info FILE...\n"
                         "  Prints format, compression, colour mode, size, resolution and palette of each raster\n"
                         "  file, and for monochrome files which colour is ink: the colour most pixels have is\n"
                         "  taken as the background. The pixels are decoded when they are within the limit\n"
                         "  (PXMEND_MAX_PIXELS, default 2000000000 pixels) and checked: damaged data is reported.\n"
                         "  Exit code 1 when any file cannot be read, is over the limit or is damaged.\n";
            return 0;
        }
        if (a.size() > 1 && a[0] == '-') return usageError("info: unknown option " + a);
    }
    img::ReadOptions options;
    std::string why;
    if (!img::readOptionsFrom(std::getenv("PXMEND_MAX_PIXELS"), options, why)) return usageError("info: " + why);
    int code = 0;
    for (const std::string& path : args) {
        if (!printInfo(path, options, std::cout)) code = 1;
        std::cout.flush();
    }
    return code;
}

}  // namespace pixelmend
