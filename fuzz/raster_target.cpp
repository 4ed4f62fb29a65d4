// Raster files through the codecs: header, pixels, and a write-back of what was read.
#include <filesystem>
#include <fstream>

#include "fuzz/fuzz_targets.h"
#include "subhost/imagefile/imagefile.h"

namespace pxfuzz::raster {
namespace {

namespace img = subhost::imagefile;

// Images whose pixels would take more than this are read for their header only: the
// codecs' own limit (4 GiB) is for real scans, and a case that touches gigabytes
// would only measure the machine.
constexpr std::uint64_t kMaxCasePixelBytes = 64u << 20;

// The file name a case is written to: the extension each format is known by, so that a
// write-back goes through the same path a user's file would.
std::string caseName(const std::uint8_t* data, std::size_t size) {
    if (size >= 2 && ((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M'))) return "case.tif";
    if (size >= 2 && data[0] == 0x89 && data[1] == 'P') return "case.png";
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) return "case.jpg";
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return "case.bmp";
    if (size >= 2 && data[0] == 'G' && data[1] == 'I') return "case.gif";
    return "case.bin";
}

}  // namespace

int fuzzOne(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = std::filesystem::path(scratchFolder()) / caseName(data, size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const img::InfoResult info = img::readInfo(path.string());
    if (info.ok) {
        const std::uint64_t bytes = static_cast<std::uint64_t>(img::rowBytes(info.info.mode, info.info.width)) *
                                    static_cast<std::uint64_t>(info.info.height);
        if (bytes <= kMaxCasePixelBytes) {
            const img::ImageResult read = img::readImage(path.string());
            if (read.ok) img::writeImage(path.string(), read.image);
        }
    }
    std::error_code ignored;  // the next case writes its own file
    std::filesystem::remove(path, ignored);
    return 0;
}

}  // namespace pxfuzz::raster
