// Codec failures say what went wrong in words: a writer that runs out of disk says so, and
// a library that fails without giving a reason does not leave the user with "unknown error".
#include <gtest/gtest.h>

#include <unistd.h>

#include "subhost/imagefile/codecs.h"
#include "subhost/imagefile/imagefile_fixture.h"

namespace {

using namespace imagefile_test;
namespace detail = subhost::imagefile::detail;

struct DiskFullCase {
    const char* name;
    bool (*write)(const std::string&, const Image&, const detail::WriteSettings&, std::string&);
    ColorMode mode;
    Compression compression;
    int side;  // large enough that the data does not fit in the writer's buffer, or small
};

TEST(DiskFull, EveryWriterSaysTheDiskIsFull) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this system";
    const DiskFullCase cases[] = {
        {"TIFF G4", &detail::tiffWrite, ColorMode::Mono, Compression::CcittG4, 64},
        {"TIFF LZW", &detail::tiffWrite, ColorMode::Rgb, Compression::Lzw, 300},
        {"PNG small", &detail::pngWrite, ColorMode::Grey8, Compression::Deflate, 8},
        {"PNG large", &detail::pngWrite, ColorMode::Rgb, Compression::Deflate, 300},
        {"JPEG small", &detail::jpegWrite, ColorMode::Grey8, Compression::Jpeg, 8},
        {"JPEG large", &detail::jpegWrite, ColorMode::Rgb, Compression::Jpeg, 300},
        {"BMP small", &detail::bmpWrite, ColorMode::Palette8, Compression::None, 8},
        {"BMP large", &detail::bmpWrite, ColorMode::Rgb, Compression::None, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Image image = picture(c.mode, c.side, c.side);
        detail::WriteSettings ws;
        ws.compression = c.compression;
        std::string why;
        EXPECT_FALSE(c.write("/dev/full", image, ws, why));
        EXPECT_NE(why.find("the disk is full"), std::string::npos) << why;
    }
}

// giflib gives no error code when a file ends inside the first image's descriptor.
TEST(CodecErrors, GifCutInsideTheImageDescriptorSaysTheDataEndsEarly) {
    ScratchDir dir;
    const std::vector<std::uint8_t> bytes = {
        'G',  'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0x80, 0, 0,  // 4 x 4 screen, 2-colour table
        0,    0,   0,   255, 255, 255,                          // the table
        0x2C, 0,   0,   0,   0,   4,   0, 4, 0, 0};             // image descriptor; no LZW code size follows
    writeBytes(dir.path("cut.gif"), bytes);
    const ImageResult read = readImage(dir.path("cut.gif"));
    ASSERT_FALSE(read.ok);
    EXPECT_EQ(read.error.find("unknown error"), std::string::npos) << read.error;
    EXPECT_NE(read.error.find("ends early"), std::string::npos) << read.error;
    EXPECT_NE(read.error.find("cut.gif"), std::string::npos) << read.error;
}

}  // namespace
