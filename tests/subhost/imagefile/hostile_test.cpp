// Damaged and hostile raster files are refused with the file and the reason,
// without output on stderr; failed writes leave the original file as it was.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "imagefile_fixture.h"
#include "subhost/safefile.h"

namespace imagefile_test {
namespace {

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Byte offset of the 12-byte entry of `tag` in the first directory of a little-endian TIFF.
std::size_t tiffEntry(const std::vector<std::uint8_t>& b, std::uint16_t tag) {
    std::size_t ifd = le32(b, 4);
    std::size_t count = b[ifd] | (b[ifd + 1] << 8);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t entry = ifd + 2 + 12 * i;
        if ((b[entry] | (b[entry + 1] << 8)) == tag) return entry;
    }
    return 0;
}

// Gives the entry of `tag` one LONG value; false when the directory has no such entry.
bool setLong(std::vector<std::uint8_t>& b, std::uint16_t tag, std::uint32_t value) {
    const std::size_t entry = tiffEntry(b, tag);
    if (entry == 0) return false;
    b[entry + 2] = TIFF_LONG;
    b[entry + 3] = 0;
    put32(b, entry + 4, 1);
    put32(b, entry + 8, value);
    return true;
}

class HostileFiles : public ::testing::Test {
protected:
    // A small valid little-endian TIFF to damage.
    std::vector<std::uint8_t> goodTiff(std::uint16_t compression = COMPRESSION_NONE, ColorMode mode = ColorMode::Mono) {
        const std::string path = dir.path("good.tif");
        TiffShape s;
        s.compression = compression;
        s.rowsPerStrip = 64;
        EXPECT_TRUE(writeTiffWithLibtiff(path, picture(mode, 120, 90), s));
        return fileBytes(path);
    }

    // What the header-only read makes of a file whose pixels are refused.
    enum class Header { Refused, Read };

    // Reads `bytes` as a file and expects a refusal naming the file and containing `reason`; the
    // header-only read refuses it the same way, or reads it when only the pixel data is bad.
    void expectRefused(const std::vector<std::uint8_t>& bytes, const std::string& name, const std::string& reason,
                       Header header = Header::Refused) {
        ASSERT_FALSE(reason.empty()) << "a refusal is checked for its reason";
        const std::string path = dir.path(name);
        writeBytes(path, bytes);
        ::testing::internal::CaptureStderr();
        ImageResult read = readImage(path);
        InfoResult info = readInfo(path);
        std::string printed = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(read.ok);
        EXPECT_NE(read.error.find(path), std::string::npos) << read.error;
        EXPECT_NE(read.error.find(reason), std::string::npos) << read.error;
        EXPECT_TRUE(read.image.pixels.empty());
        EXPECT_EQ(printed, "");
        if (header == Header::Read) {
            EXPECT_TRUE(info.ok) << info.error;
            return;
        }
        EXPECT_FALSE(info.ok) << name;
        EXPECT_NE(info.error.find(path), std::string::npos) << info.error;
        EXPECT_NE(info.error.find(reason), std::string::npos) << info.error;
    }

    ScratchDir dir;
};

TEST_F(HostileFiles, MissingEmptyFolderAndForeignFiles) {
    ImageResult missing = readImage(dir.path("nothing.tif"));
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("nothing.tif"), std::string::npos);
    EXPECT_NE(missing.error.find("does not exist"), std::string::npos);
    EXPECT_FALSE(readInfo(dir.path("nothing.tif")).ok);

    expectRefused({}, "empty.tif", "empty");
    std::vector<std::uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'};
    expectRefused(text, "notes.tif", "not a raster file");
    expectRefused({'P', 'K', 3, 4, 0, 0, 0, 0}, "archive.png", "not a raster file");

    std::filesystem::create_directory(dir.path("folder.tif"));
    ImageResult folder = readImage(dir.path("folder.tif"));
    EXPECT_FALSE(folder.ok);
    EXPECT_NE(folder.error.find(dir.path("folder.tif")), std::string::npos) << folder.error;
    EXPECT_NE(folder.error.find("it is a folder, not a raster file"), std::string::npos) << folder.error;
}

TEST_F(HostileFiles, TruncatedTiffs) {
    std::vector<std::uint8_t> tiff = goodTiff(COMPRESSION_CCITTFAX4);
    // Cut inside the header: libtiff cannot read the directory.
    expectRefused(std::vector<std::uint8_t>(tiff.begin(), tiff.begin() + 6), "header.tif", "TIFF");
    // Pixel data cut short (libtiff writes the directory after the strips, so
    // move the strip offsets past the end instead of cutting the file).
    std::vector<std::uint8_t> cut = goodTiff(COMPRESSION_NONE);
    std::size_t offsets = tiffEntry(cut, TIFFTAG_STRIPOFFSETS);
    ASSERT_NE(offsets, 0u);
    std::size_t counts = tiffEntry(cut, TIFFTAG_STRIPBYTECOUNTS);
    ASSERT_NE(counts, 0u);
    // Two strips of 64 and 26 rows; point the second past the end of the file.
    std::size_t table = le32(cut, offsets + 8);
    put32(cut, table + 4, static_cast<std::uint32_t>(cut.size() + 1000));
    expectRefused(cut, "strips.tif", "strip 1", Header::Read);
}

TEST_F(HostileFiles, LoopingDirectoryChainIsRefused) {
    std::vector<std::uint8_t> tiff = goodTiff();
    std::size_t ifd = le32(tiff, 4);
    std::size_t count = tiff[ifd] | (tiff[ifd + 1] << 8);
    put32(tiff, ifd + 2 + 12 * count, static_cast<std::uint32_t>(ifd));  // next directory: itself
    expectRefused(tiff, "loop.tif", "directory");
}

TEST_F(HostileFiles, AbsurdSizesAreRefusedFromTheHeader) {
    std::vector<std::uint8_t> wide = goodTiff();
    ASSERT_TRUE(setLong(wide, TIFFTAG_IMAGEWIDTH, 2000000));
    expectRefused(wide, "wide.tif", "limit");

    // Sides within the limit, but 60000 x 60000 RGB is over 4 GiB decoded.
    std::vector<std::uint8_t> big = goodTiff(COMPRESSION_LZW, ColorMode::Rgb);
    for (std::uint16_t tag : {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP})
        ASSERT_TRUE(setLong(big, tag, 60000));
    expectRefused(big, "huge.tif", "MiB", Header::Read);  // the header alone is in order

    // A BMP header claiming a huge picture in a tiny file.
    std::vector<std::uint8_t> bmp(54, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40;
    put32(bmp, 18, 50000);
    put32(bmp, 22, 50000);
    bmp[26] = 1, bmp[28] = 24;
    expectRefused(bmp, "huge.bmp", "truncated");
}

TEST_F(HostileFiles, UnsupportedLayoutsReportInformationButDoNotDecode) {
    const std::string path = dir.path("grey16.tif");
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 10);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 4);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    std::vector<std::uint16_t> row(10, 1000);
    for (std::uint32_t y = 0; y < 4; ++y) TIFFWriteScanline(tif, row.data(), y, 0);
    TIFFClose(tif);

    InfoResult info = readInfo(path);
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.info.mode, ColorMode::Other);
    EXPECT_EQ(info.info.bitsPerSample, 16);
    ImageResult read = readImage(path);
    EXPECT_FALSE(read.ok);
    EXPECT_NE(read.error.find("16 bits per sample"), std::string::npos) << read.error;
}

TEST_F(HostileFiles, DamagedPngJpegBmpAndGif) {
    Image picture8 = picture(ColorMode::Rgb, 60, 40);
    // Cut in half: the header is whole, the pixel data ends early (a BMP's size tells from the header).
    struct Half {
        FileFormat format;
        const char* reason;
        Header header;
    };
    const Half halves[] = {{FileFormat::Png, "damaged PNG data", Header::Read},
                           {FileFormat::Jpeg, "damaged JPEG data", Header::Read},
                           {FileFormat::Bmp, "BMP pixel data is truncated", Header::Refused}};
    for (const auto& [format, reason, header] : halves) {
        const std::string path = dir.path("whole");
        ASSERT_EQ(createImageFile(path, format, picture8).status, kStatusOk);
        std::vector<std::uint8_t> bytes = fileBytes(path);
        bytes.resize(bytes.size() / 2);
        expectRefused(bytes, "half" + std::to_string(static_cast<int>(format)), reason, header);
    }
    std::vector<std::uint8_t> bmp(54, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[18] = 2, bmp[22] = 2, bmp[26] = 1, bmp[28] = 24;
    bmp[30] = 1;  // run-length compression
    expectRefused(bmp, "rle.bmp", "compression");
    expectRefused({'G', 'I', 'F', '8', '9', 'a', 4, 0}, "cut.gif", "GIF");
}

// Seeded random damage to small files of every writable kind: each read either
// succeeds or refuses with the file's name; nothing crashes or prints.
TEST_F(HostileFiles, RandomlyDamagedFilesAreReadOrRefusedCleanly) {
    struct Seed {
        FileFormat format;
        ColorMode mode;
        Compression compression;
    };
    const Seed seeds[] = {{FileFormat::Tiff, ColorMode::Mono, Compression::CcittG4},
                          {FileFormat::Tiff, ColorMode::Palette8, Compression::Lzw},
                          {FileFormat::Tiff, ColorMode::Rgb, Compression::Jpeg},
                          {FileFormat::Png, ColorMode::Rgb, Compression::Deflate},
                          {FileFormat::Jpeg, ColorMode::Grey8, Compression::Jpeg},
                          {FileFormat::Bmp, ColorMode::Palette4, Compression::None}};
    std::vector<std::vector<std::uint8_t>> files;
    for (const Seed& seed : seeds) {
        Image image = picture(seed.mode, 40, 24);
        image.compression = seed.compression;
        ASSERT_EQ(createImageFile(dir.path("seed"), seed.format, image).status, kStatusOk);
        files.push_back(fileBytes(dir.path("seed")));
    }
    std::mt19937 random(7);
    const std::string path = dir.path("damaged");
    int read = 0, refused = 0;
    ::testing::internal::CaptureStderr();
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes = files[random() % files.size()];
        for (unsigned k = 0, n = 1 + random() % 6; k < n; ++k) {
            std::size_t at = random() % bytes.size();
            if (random() % 5 == 0)
                bytes.resize(at + 1);
            else
                bytes[at] = static_cast<std::uint8_t>(random());
        }
        writeBytes(path, bytes);
        const ImageResult result = readImage(path);
        if (result.ok) {
            // A picture read whole: its size is the header's and every row is there.
            ++read;
            const InfoResult info = readInfo(path);
            ASSERT_TRUE(info.ok) << info.error;
            EXPECT_EQ(result.image.width, info.info.width);
            EXPECT_EQ(result.image.height, info.info.height);
            EXPECT_EQ(result.image.pixels.size(), result.image.stride * static_cast<std::size_t>(result.image.height));
            continue;
        }
        // A refusal: 'Cannot read raster file "PATH": reason', and no pixels.
        ++refused;
        const std::string named = "Cannot read raster file \"" + path + "\": ";
        ASSERT_EQ(result.error.rfind(named, 0), 0u) << result.error;
        EXPECT_GT(result.error.size(), named.size() + 3) << "a refusal without a reason: " << result.error;
        EXPECT_TRUE(result.image.pixels.empty());
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    // The damage was both harmless and fatal often enough for the round to test both outcomes.
    EXPECT_GT(read, 20);
    EXPECT_GT(refused, 20);
}

class SafeWrites : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.path("scan.tif");
        TiffShape s;
        s.compression = COMPRESSION_CCITTFAX4;
        ASSERT_TRUE(writeTiffWithLibtiff(path, picture(ColorMode::Mono, 64, 32), s));
        original = fileBytes(path);
        ImageResult read = readImage(path);
        ASSERT_TRUE(read.ok) << read.error;
        image = std::move(read.image);
        image.pixels[0] ^= 0xFF;
    }
    ScratchDir dir;
    std::string path;
    std::vector<std::uint8_t> original;
    Image image;
};

// A link planted at the name writes used to go through is never followed.
TEST_F(SafeWrites, LinkAtTheOldTemporaryNameIsNotFollowed) {
    const std::string victim = dir.path("victim.txt");
    std::ofstream(victim) << "precious";
    std::filesystem::create_symlink(victim, path + ".pxmtmp");
    ASSERT_EQ(writeImage(path, image).status, kStatusOk);
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
    EXPECT_NE(fileBytes(path), original);
}

// Two processes writing one file again and again: every write is whole, the file is always one of
// the two pictures, never a mixture or a torn file, and no temporary is left.
TEST_F(SafeWrites, TwoProcessesWritingOneFileNeverTearIt) {
    Image other = image;
    for (auto& b : other.pixels) b = std::uint8_t(~b);
    ::setenv("PXMEND_LOCK_WAIT", "20", 1);
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        if (children[c] == 0) {
            for (int i = 0; i < 25; ++i)
                if (writeImage(path, c ? other : image).status != kStatusOk) ::_exit(1);
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
    }
    ::unsetenv("PXMEND_LOCK_WAIT");
    ImageResult result = readImage(path);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.image.pixels == image.pixels || result.image.pixels == other.pixels);
    EXPECT_EQ(subhost::safefile::countWorkingFiles(std::filesystem::path(path).parent_path().string()), 0);
}

// A writer that finds the file locked by another process longer than it will wait gives up with the
// reason and leaves the file as it was.
TEST_F(SafeWrites, FileLockedByAnotherProcessIsRefusedWithTheReason) {
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        std::string error;
        auto lock = subhost::safefile::FileLock::acquire(path, 0, &error);
        char c = lock ? 'y' : 'n';
        if (::write(ready[1], &c, 1) != 1 || ::read(release[0], &c, 1) < 0) ::_exit(2);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    ::setenv("PXMEND_LOCK_WAIT", "0.1", 1);
    const WriteStatus status = writeImage(path, image);
    ::unsetenv("PXMEND_LOCK_WAIT");
    EXPECT_EQ(status.status, kStatusError);
    EXPECT_NE(status.error.find("another program is writing"), std::string::npos) << status.error;
    EXPECT_EQ(fileBytes(path), original);
    ASSERT_EQ(::write(release[1], &c, 1), 1);
    ::waitpid(holder, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

TEST_F(SafeWrites, PathUnderARegularFileFails) {
    const std::string below = path + "/inner.tif";
    WriteStatus status = writeImage(below, image);
    EXPECT_EQ(status.status, kStatusError);
    EXPECT_NE(status.error.find(below), std::string::npos);
    EXPECT_EQ(fileBytes(path), original);
    EXPECT_EQ(createImageFile(below, FileFormat::Png, image).status, kStatusError);
}

TEST_F(SafeWrites, ReadOnlyFileIsRefusedEvenForRoot) {
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    WriteStatus status = writeImage(path, image);
    EXPECT_EQ(status.status, kStatusError);
    EXPECT_NE(status.error.find("read-only"), std::string::npos) << status.error;
    EXPECT_EQ(fileBytes(path), original);
    EXPECT_EQ(createImageFile(path, FileFormat::Png, image).status, kStatusError);
    EXPECT_EQ(fileBytes(path), original);
}

TEST_F(SafeWrites, WriteBackKeepsPermissionBitsAndLeavesNoTemporary) {
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    ASSERT_EQ(writeImage(path, image).status, kStatusOk);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    EXPECT_EQ(subhost::safefile::countWorkingFiles(std::filesystem::path(path).parent_path().string()), 0);
    EXPECT_NE(fileBytes(path), original);
}

TEST_F(SafeWrites, ThroughASymbolicLinkTheNamedFileChangesAndTheLinkStays) {
    const std::string link = dir.path("link.tif");
    std::filesystem::create_symlink(path, link);
    ASSERT_EQ(writeImage(link, image).status, kStatusOk);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.image.pixels, image.pixels);
}

TEST_F(SafeWrites, ImagesThatDoNotMatchTheirHeaderAreNotWritten) {
    Image broken = image;
    broken.pixels.resize(broken.pixels.size() / 2);
    WriteStatus status = writeImage(path, broken);
    EXPECT_EQ(status.status, kStatusError);
    EXPECT_NE(status.error.find(path), std::string::npos) << status.error;
    EXPECT_EQ(fileBytes(path), original);
    Image other = image;
    other.mode = ColorMode::Other;
    status = writeImage(path, other);
    EXPECT_EQ(status.status, kStatusCannotWriteFormat) << status.error;
    EXPECT_EQ(fileBytes(path), original);
}

}  // namespace
}  // namespace imagefile_test
