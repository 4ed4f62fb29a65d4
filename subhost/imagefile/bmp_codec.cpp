// Windows BMP, read and written here: uncompressed 1, 4, 8, 24 and 32 bits per
// pixel (32-bit also with the usual BI_BITFIELDS masks). Every header field is
// checked against the file's real size before any pixel memory is taken.
// Run-length and embedded JPEG/PNG bitmaps are refused.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "subhost/imagefile/codecs.h"

namespace subhost::imagefile::detail {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// What the headers say, after checking.
struct BmpHeader {
    std::int64_t width = 0, height = 0;  // height positive; topDown says the row order
    bool topDown = false;
    int bitCount = 0;
    std::uint64_t pixelOffset = 0;
    std::uint64_t fileRowBytes = 0;
    std::int32_t xppm = 0, yppm = 0;
    int paletteCount = 0;
    std::array<Rgb8, 256> palette{};
};

// Takes the open file and its size, fills and checks the header; false with the reason.
bool bmpParseHeader(std::FILE* file, std::uint64_t fileSize, BmpHeader& h, std::string& why) {
    std::uint8_t head[kFileHeaderSize + 124] = {};
    if (fileSize < kFileHeaderSize + kInfoHeaderSize ||
        std::fread(head, 1, kFileHeaderSize + 4, file) != kFileHeaderSize + 4) {
        why = "BMP header is truncated";
        return false;
    }
    if (head[0] != 'B' || head[1] != 'M') {
        why = "not a BMP file (wrong signature)";
        return false;
    }
    h.pixelOffset = le32(head + 10);
    const std::uint32_t infoSize = le32(head + kFileHeaderSize);
    if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124) {
        why = format("unsupported BMP header size %u", infoSize);
        return false;
    }
    if (kFileHeaderSize + infoSize > fileSize ||
        std::fread(head + kFileHeaderSize + 4, 1, infoSize - 4, file) != infoSize - 4) {
        why = "BMP header is truncated";
        return false;
    }
    const std::uint8_t* info = head + kFileHeaderSize;
    const std::int32_t width = static_cast<std::int32_t>(le32(info + 4));
    const std::int32_t height = static_cast<std::int32_t>(le32(info + 8));
    const std::uint16_t planes = le16(info + 12);
    h.bitCount = le16(info + 14);
    const std::uint32_t compression = le32(info + 16);
    h.xppm = static_cast<std::int32_t>(le32(info + 24));
    h.yppm = static_cast<std::int32_t>(le32(info + 28));
    const std::uint32_t colorsUsed = le32(info + 32);
    if (width <= 0 || height == 0 || height == INT32_MIN) {
        why = format("invalid BMP image size %d x %d", width, height);
        return false;
    }
    h.width = width;
    h.topDown = height < 0;
    h.height = height < 0 ? -static_cast<std::int64_t>(height) : height;
    if (h.width > kMaxSide || h.height > kMaxSide) {
        why = format("image size %lld x %lld exceeds the limit of %lld pixels a side", static_cast<long long>(h.width),
                     static_cast<long long>(h.height), static_cast<long long>(kMaxSide));
        return false;
    }
    if (planes != 1) {
        why = format("invalid BMP plane count %u", planes);
        return false;
    }
    if (h.bitCount != 1 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 24 && h.bitCount != 32) {
        why = format("unsupported BMP depth of %d bits per pixel", h.bitCount);
        return false;
    }
    std::uint64_t tableOffset = kFileHeaderSize + infoSize;
    if (compression == kBiBitfields && h.bitCount == 32) {
        std::uint8_t masks[12];
        const std::uint8_t* m = info + 40;
        if (infoSize == kInfoHeaderSize) {
            if (std::fread(masks, 1, sizeof masks, file) != sizeof masks) {
                why = "BMP colour masks are truncated";
                return false;
            }
            m = masks;
            tableOffset += sizeof masks;
        }
        if (le32(m) != 0x00FF0000u || le32(m + 4) != 0x0000FF00u || le32(m + 8) != 0x000000FFu) {
            why = "unsupported BMP colour masks";
            return false;
        }
    } else if (compression != kBiRgb) {
        why = format("unsupported BMP compression %u (run-length or embedded image)", compression);
        return false;
    }
    if (h.bitCount <= 8) {
        const std::uint32_t most = 1u << h.bitCount;
        if (colorsUsed > most) {
            why = format("BMP colour table of %u entries for %d bits per pixel", colorsUsed, h.bitCount);
            return false;
        }
        h.paletteCount = static_cast<int>(colorsUsed ? colorsUsed : most);
        const std::uint64_t tableBytes = 4ull * static_cast<std::uint64_t>(h.paletteCount);
        if (tableOffset + tableBytes > h.pixelOffset || tableOffset + tableBytes > fileSize ||
            std::fseek(file, static_cast<long>(tableOffset), SEEK_SET) != 0) {
            why = "BMP colour table overlaps the pixels or the end of the file";
            return false;
        }
        std::uint8_t table[1024];
        if (std::fread(table, 1, tableBytes, file) != tableBytes) {
            why = "BMP colour table is truncated";
            return false;
        }
        for (int i = 0; i < h.paletteCount; ++i)
            h.palette[static_cast<std::size_t>(i)] = Rgb8{table[4 * i + 2], table[4 * i + 1], table[4 * i]};
    }
    if (h.pixelOffset < tableOffset) {
        why = "BMP pixel offset points into the header";
        return false;
    }
    h.fileRowBytes = (static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(h.bitCount) + 31) / 32 * 4;
    if (h.pixelOffset + h.fileRowBytes * static_cast<std::uint64_t>(h.height) > fileSize) {
        why = "BMP pixel data is truncated";
        return false;
    }
    return true;
}

bool isGreyRamp(const BmpHeader& h) {
    if (h.paletteCount != 256) return false;
    for (int i = 0; i < 256; ++i) {
        const Rgb8& c = h.palette[static_cast<std::size_t>(i)];
        if (c[0] != i || c[1] != i || c[2] != i) return false;
    }
    return true;
}

void bmpInfoFrom(const BmpHeader& h, ImageInfo& info) {
    info.width = static_cast<int>(h.width);
    info.height = static_cast<int>(h.height);
    info.bitsPerSample = h.bitCount <= 8 ? h.bitCount : 8;
    info.samplesPerPixel = h.bitCount == 24 ? 3 : h.bitCount == 32 ? 4 : 1;
    switch (h.bitCount) {
    case 1:
        info.mode = ColorMode::Mono;
        break;
    case 4:
        info.mode = ColorMode::Palette4;
        break;
    case 8:
        info.mode = isGreyRamp(h) ? ColorMode::Grey8 : ColorMode::Palette8;
        break;
    case 24:
        info.mode = ColorMode::Rgb;
        break;
    default:
        info.mode = ColorMode::Rgba;
        break;
    }
    if (info.mode == ColorMode::Mono)
        info.photometric = lighter(h.palette[0], h.palette[1]) ? Photometric::MinIsWhite : Photometric::MinIsBlack;
    info.compression = Compression::None;
    info.layout = Layout{false, static_cast<std::uint32_t>(h.height), 0, 0};
    info.details.topDown = h.topDown;
    if (h.xppm > 0 && h.yppm > 0) {
        info.resolution.x = h.xppm / 100.0;
        info.resolution.y = h.yppm / 100.0;
        info.resolution.unit = ResolutionUnit::Centimetre;
    }
    // The colour table comes before the pixels: the palette is part of the header.
    setDefaultPalette(info);
    if (h.bitCount <= 8) {
        info.palette = h.palette;
        info.paletteCount = info.mode == ColorMode::Mono ? 2 : h.paletteCount;
    }
}

// Takes a source at its start, reads its headers and colour table into h; false with the reason.
bool bmpOpen(const Source& source, BmpHeader& h, std::string& why) {
    return bmpParseHeader(source.file, source.size, h, why);
}

// Takes a file row, gives the image row (bit and index rows copied, colour bytes reordered).
void bmpRowIn(const std::uint8_t* src, std::uint8_t* dst, const Image& image, int bitCount) {
    const std::size_t w = static_cast<std::size_t>(image.width);
    switch (bitCount) {
    case 1:
    case 8:
        std::memcpy(dst, src, image.stride);
        break;
    case 4:
        for (std::size_t i = 0; i < w; ++i) dst[i] = (i & 1) ? (src[i / 2] & 0x0F) : (src[i / 2] >> 4);
        break;
    case 24:
        for (std::size_t i = 0; i < w; ++i) {
            dst[3 * i] = src[3 * i + 2];
            dst[3 * i + 1] = src[3 * i + 1];
            dst[3 * i + 2] = src[3 * i];
        }
        break;
    default:
        for (std::size_t i = 0; i < w; ++i) {
            dst[4 * i] = src[4 * i + 2];
            dst[4 * i + 1] = src[4 * i + 1];
            dst[4 * i + 2] = src[4 * i];
            dst[4 * i + 3] = src[4 * i + 3];
        }
        break;
    }
}

// Takes an image row, gives the file row (the padding stays zero).
void bmpRowOut(const std::uint8_t* src, std::uint8_t* dst, const Image& image) {
    const std::size_t w = static_cast<std::size_t>(image.width);
    switch (image.mode) {
    case ColorMode::Mono:
    case ColorMode::Palette8:
    case ColorMode::Grey8:
        std::memcpy(dst, src, image.stride);
        break;
    case ColorMode::Palette4:
        for (std::size_t i = 0; i < w; i += 2)
            dst[i / 2] = static_cast<std::uint8_t>(((src[i] & 0x0F) << 4) | (i + 1 < w ? (src[i + 1] & 0x0F) : 0));
        break;
    case ColorMode::Rgb:
        for (std::size_t i = 0; i < w; ++i) {
            dst[3 * i] = src[3 * i + 2];
            dst[3 * i + 1] = src[3 * i + 1];
            dst[3 * i + 2] = src[3 * i];
        }
        break;
    default:
        for (std::size_t i = 0; i < w; ++i) {
            dst[4 * i] = src[4 * i + 2];
            dst[4 * i + 1] = src[4 * i + 1];
            dst[4 * i + 2] = src[4 * i];
            dst[4 * i + 3] = src[4 * i + 3];
        }
        break;
    }
}

}  // namespace

bool bmpReadInfo(const Source& source, ImageInfo& info, std::string& why) {
    BmpHeader h;
    if (!bmpOpen(source, h, why)) return false;
    bmpInfoFrom(h, info);
    return true;
}

bool bmpRead(const Source& source, Image& image, std::string& why) {
    BmpHeader h;
    if (!bmpOpen(source, h, why)) return false;
    bmpInfoFrom(h, image);
    if (!allocatePixels(image, why)) return false;
    std::FILE* file = source.file;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(h.fileRowBytes));
    if (std::fseek(file, static_cast<long>(h.pixelOffset), SEEK_SET) != 0) {
        why = "cannot seek to the BMP pixels";
        return false;
    }
    for (std::int64_t r = 0; r < h.height; ++r) {
        if (std::fread(row.data(), 1, row.size(), file) != row.size()) {
            why = "BMP pixel data is truncated";
            return false;
        }
        std::int64_t y = h.topDown ? r : h.height - 1 - r;
        bmpRowIn(row.data(), image.pixels.data() + static_cast<std::size_t>(y) * image.stride, image, h.bitCount);
    }
    return true;
}

bool bmpWrite(const std::string& path, const Image& image, const WriteSettings& ws, std::string& why) {
    int bitCount = 0, tableEntries = 0;
    std::array<Rgb8, 256> table{};
    switch (image.mode) {
    case ColorMode::Mono:
        bitCount = 1;
        tableEntries = 2;
        if (image.paletteCount >= 2) {
            table[0] = image.palette[0];
            table[1] = image.palette[1];
        } else {
            bool zeroWhite = image.photometric == Photometric::MinIsWhite;
            table[0] = zeroWhite ? Rgb8{255, 255, 255} : Rgb8{0, 0, 0};
            table[1] = zeroWhite ? Rgb8{0, 0, 0} : Rgb8{255, 255, 255};
        }
        break;
    case ColorMode::Palette4:
        bitCount = 4;
        tableEntries = std::clamp(image.paletteCount, 1, 16);
        table = image.palette;
        break;
    case ColorMode::Palette8:
        bitCount = 8;
        tableEntries = std::clamp(image.paletteCount, 1, 256);
        table = image.palette;
        break;
    case ColorMode::Grey8:
        bitCount = 8;
        tableEntries = 256;
        for (int i = 0; i < 256; ++i) {
            auto v = static_cast<std::uint8_t>(i);
            table[static_cast<std::size_t>(i)] = Rgb8{v, v, v};
        }
        break;
    case ColorMode::Rgb:
        bitCount = 24;
        break;
    case ColorMode::Rgba:
        bitCount = 32;
        break;
    default:
        why = "colour mode not writable as BMP";
        return false;
    }
    const std::uint64_t fileRow =
        (static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(bitCount) + 31) / 32 * 4;
    const std::uint64_t offset = kFileHeaderSize + kInfoHeaderSize + 4ull * static_cast<std::uint64_t>(tableEntries);
    const std::uint64_t total = offset + fileRow * static_cast<std::uint64_t>(image.height);
    if (total > 0xFFFFFFFFull) {
        why = "image too large for a BMP file";
        return false;
    }
    std::int32_t ppmX = 0, ppmY = 0;
    if (image.resolution.x > 0 && image.resolution.y > 0 && image.resolution.unit != ResolutionUnit::None) {
        double scale = image.resolution.unit == ResolutionUnit::Inch ? 1 / 0.0254 : 100.0;
        ppmX = static_cast<std::int32_t>(std::lround(image.resolution.x * scale));
        ppmY = static_cast<std::int32_t>(std::lround(image.resolution.y * scale));
    }
    std::vector<std::uint8_t> header(static_cast<std::size_t>(offset), 0);
    std::uint8_t* p = header.data();
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, static_cast<std::uint32_t>(total));
    put32(p + 10, static_cast<std::uint32_t>(offset));
    std::uint8_t* info = p + kFileHeaderSize;
    put32(info, kInfoHeaderSize);
    put32(info + 4, static_cast<std::uint32_t>(image.width));
    std::int32_t height = ws.details.topDown ? -image.height : image.height;
    put32(info + 8, static_cast<std::uint32_t>(height));
    put16(info + 12, 1);
    put16(info + 14, static_cast<std::uint32_t>(bitCount));
    put32(info + 16, kBiRgb);
    put32(info + 20, static_cast<std::uint32_t>(fileRow * static_cast<std::uint64_t>(image.height)));
    put32(info + 24, static_cast<std::uint32_t>(ppmX));
    put32(info + 28, static_cast<std::uint32_t>(ppmY));
    put32(info + 32, static_cast<std::uint32_t>(tableEntries));
    for (int i = 0; i < tableEntries; ++i) {
        std::uint8_t* e = info + kInfoHeaderSize + 4 * i;
        const Rgb8& c = table[static_cast<std::size_t>(i)];
        e[0] = c[2];
        e[1] = c[1];
        e[2] = c[0];
    }
    FilePtr file = openFile(path, "wb", why);
    if (!file) {
        why = "cannot create the file: " + why;
        return false;
    }
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    std::vector<std::uint8_t> row(static_cast<std::size_t>(fileRow), 0);
    for (int r = 0; ok && r < image.height; ++r) {
        int y = ws.details.topDown ? r : image.height - 1 - r;
        bmpRowOut(image.pixels.data() + static_cast<std::size_t>(y) * image.stride, row.data(), image);
        ok = std::fwrite(row.data(), 1, row.size(), file.get()) == row.size();
    }
    int code = ok ? 0 : errno;  // the failed write's reason, before fclose can change errno
    if (std::fclose(file.release()) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (!ok) why = "cannot write the file: " + systemError(code);
    return ok;
}

}  // namespace subhost::imagefile::detail
