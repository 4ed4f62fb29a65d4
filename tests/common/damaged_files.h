// Hand-made damaged and oversized raster files, as a hostile-input campaign makes them: a TIFF
// strip cut short, a JPEG cut short with its end marker put back, and GIF and JPEG headers that
// claim 65 500 x 65 500 pixels in a few bytes.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "subhost/imagefile/imagefile.h"

namespace damaged_files {

inline std::vector<std::uint8_t> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// Cuts the one strip of a single-strip little-endian TIFF to `keep` of its bytes: its byte count
// says so, as after a damaged copy, and the bytes after it are not read. False when the first
// directory has no one-value LONG strip byte count.
inline bool cutStrip(std::vector<std::uint8_t>& tiff, double keep) {
    constexpr std::uint16_t kStripByteCounts = 279;
    const std::size_t ifd = le32(tiff, 4);
    const std::size_t count = tiff[ifd] | (tiff[ifd + 1] << 8);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if ((tiff[entry] | (tiff[entry + 1] << 8)) != kStripByteCounts) continue;
        if (tiff[entry + 2] != 4 || le32(tiff, entry + 4) != 1) return false;
        const auto cut = static_cast<std::uint32_t>(le32(tiff, entry + 8) * keep);
        for (int k = 0; k < 4; ++k) tiff[entry + 8 + std::size_t(k)] = static_cast<std::uint8_t>(cut >> (8 * k));
        return true;
    }
    return false;
}

// A monochrome drawing (a grid of lines on white), width x height, as a G4 TIFF in one strip whose
// data is cut to `keep` of its bytes; false when it cannot be made.
inline bool writeCutG4(const std::string& path, int width, int height, double keep) {
    namespace img = subhost::imagefile;
    img::ImageResult made = img::makeImage(width, height, img::ColorMode::Mono);
    if (!made.ok) return false;
    img::Image& image = made.image;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (x % 16 < 2 || y % 12 == 0 || (x + y) % 37 == 0)
                image.pixels[std::size_t(y) * image.stride + std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
    image.compression = img::Compression::CcittG4;
    image.layout.rowsPerStrip = std::uint32_t(height);
    if (img::createImageFile(path, img::FileFormat::Tiff, image).status != img::kStatusOk) return false;
    std::vector<std::uint8_t> bytes = bytesOf(path);
    if (!cutStrip(bytes, keep)) return false;
    writeBytes(path, bytes);
    return true;
}

// A grey JPEG with detail in every row, cut in the middle of its data with its end marker put
// back; false when it cannot be made.
inline bool writeCutJpeg(const std::string& path, int width, int height) {
    namespace img = subhost::imagefile;
    img::ImageResult made = img::makeImage(width, height, img::ColorMode::Grey8);
    if (!made.ok) return false;
    img::Image& image = made.image;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixels[std::size_t(y) * image.stride + std::size_t(x)] =
                std::uint8_t((x * 7 + y * 13 + (x * y) % 31) & 0x7F);
    if (img::createImageFile(path, img::FileFormat::Jpeg, image).status != img::kStatusOk) return false;
    std::vector<std::uint8_t> bytes = bytesOf(path);
    bytes.resize(bytes.size() / 2);
    bytes.push_back(0xFF);
    bytes.push_back(0xD9);
    writeBytes(path, bytes);
    return true;
}

// A GIF whose screen claims 65 500 x 65 500 pixels, holding one 1 x 1 image: 35 bytes.
inline std::vector<std::uint8_t> hugeGif() {
    return {'G',  'I',  'F', '8', '9', 'a', 0xDC, 0xFF, 0xDC, 0xFF, 0x80, 0, 0, 0,    0,    0, 0xFF, 0xFF,
            0xFF, 0x2C, 0,   0,   0,   0,   1,    0,    1,    0,    0,    2, 2, 0x44, 0x01, 0, 0x3B};
}

// A 16 x 16 grey JPEG whose frame header claims 65 500 x 65 500 pixels; false when it cannot be made.
inline bool writeHugeJpeg(const std::string& path) {
    namespace img = subhost::imagefile;
    img::ImageResult made = img::makeImage(16, 16, img::ColorMode::Grey8);
    if (!made.ok || img::createImageFile(path, img::FileFormat::Jpeg, made.image).status != img::kStatusOk)
        return false;
    std::vector<std::uint8_t> bytes = bytesOf(path);
    for (std::size_t i = 2; i + 9 < bytes.size(); ++i) {
        if (bytes[i] != 0xFF || bytes[i + 1] != 0xC0) continue;
        bytes[i + 5] = bytes[i + 7] = 0xFF;
        bytes[i + 6] = bytes[i + 8] = 0xDC;
        writeBytes(path, bytes);
        return true;
    }
    return false;
}

}  // namespace damaged_files
