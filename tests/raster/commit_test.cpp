// The commit path: derived names, the one backup per file, new files that show
// exactly as their source, and the in-place conversion.
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "host/hostwrap.h"
#include "raster/bitmap.h"
#include "raster/clip.h"
#include "raster/commit.h"
#include "raster_fixture.h"

namespace testraster {
namespace {

using DerivedNames = RasterTest;
using Backups = RasterTest;
using Commit = RasterTest;

void touch(const std::string& path) { std::ofstream(path) << "x"; }

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The message centre's error texts (brief and detail) shown so far.
std::vector<std::string> centreErrors() {
    std::vector<std::string> out;
    for (const auto& e : subhost::transcript())
        if (e.value("event", "") == "messageCenter" && e.value("priority", 0) == 10)
            out.push_back(e.value("brief", "") + " | " + e.value("detail", ""));
    return out;
}

// A 32-bit LZW TIFF whose alpha runs from transparent to opaque along each row.
img::Image rgbaWithAlpha() {
    img::Image image = img::makeImage(20, 10, img::ColorMode::Rgba).image;
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        image.pixels[i] = 10;
        image.pixels[i + 1] = 20;
        image.pixels[i + 2] = 30;
        image.pixels[i + 3] = std::uint8_t((i / 4) % 20 * 13);
    }
    image.compression = img::Compression::Lzw;
    return image;
}

// Stops the process the way a kill does (nothing runs after it).
void killNow(const char*, const char*) { ::kill(::getpid(), SIGKILL); }

TEST_F(DerivedNames, CountUpFromTheFirstFreeName) {
    char name[256];
    v_uniqueFileName(name, path("scan.tif").c_str(), "backup");
    EXPECT_EQ(std::string(name), path("scan-backup.tif"));
    touch(path("scan-backup.tif"));
    v_uniqueFileName(name, path("scan.tif").c_str(), "backup");
    EXPECT_EQ(std::string(name), path("scan-backup2.tif"));
    touch(path("scan-backup2.tif"));
    v_uniqueFileName(name, path("scan.tif").c_str(), "backup");
    EXPECT_EQ(std::string(name), path("scan-backup3.tif"));
}

TEST_F(DerivedNames, ANumberedNameContinuesItsCount) {
    char name[256];
    v_uniqueFileName(name, path("scan-backup2.tif").c_str(), "backup");
    EXPECT_EQ(std::string(name), path("scan-backup3.tif"));
    v_uniqueFileName(name, path("scan-backupx.tif").c_str(), "backup");
    EXPECT_EQ(std::string(name), path("scan-backup2.tif"));
    v_uniqueFileName(name, path("plan-a.png").c_str(), "copied");
    EXPECT_EQ(std::string(name), path("plan-a-copied.png"));
}

TEST_F(Backups, OneWhileItExistsAndANewOneOnceDeleted) {
    const std::string file = path("scan.tif");
    touch(file);
    EXPECT_EQ(j_rasterBackup(false, file.c_str(), nullptr), SUCCESS);
    EXPECT_EQ(j_rasterBackup(false, file.c_str(), nullptr), ERROR);
    EXPECT_TRUE(fs::exists(path("scan-backup.tif")));
    fs::remove(path("scan-backup.tif"));
    char made[256] = "";
    EXPECT_EQ(j_rasterBackup(false, file.c_str(), made), SUCCESS);
    EXPECT_EQ(std::string(made), path("scan-backup.tif"));
}

TEST_F(Backups, NoneWhenSwitchedOffOrForFilesTheAddOnMade) {
    const std::string file = path("scan.tif");
    touch(file);
    s__globals.Backup = 0;
    EXPECT_EQ(j_rasterBackup(false, file.c_str(), nullptr), ERROR);
    s__globals.Backup = 1;
    v_createdFileRecord(file.c_str());
    EXPECT_EQ(j_rasterBackup(false, file.c_str(), nullptr), ERROR);
    EXPECT_FALSE(fs::exists(path("scan-backup.tif")));
    v_backupListFree();
}

// The colour each pixel of a monochrome file shows: true for black.
std::vector<bool> shownBlack(const std::string& file) {
    const img::Image image = img::readImage(file).image;
    std::vector<bool> out;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const bool bit = (image.pixels[std::size_t(y) * image.stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
            const img::Rgb8& c = image.palette[bit ? 1 : 0];
            out.push_back(c[0] + c[1] + c[2] < 384);
        }
    }
    return out;
}

struct CommitCase {
    const char* file;
    img::FileFormat format;
    img::Photometric photometric;
    bool paperBit;
};

class CommittedFileShowsAsItsSource : public RasterTest, public ::testing::WithParamInterface<CommitCase> {};

TEST_P(CommittedFileShowsAsItsSource, InItsOwnFormatAndAsTiff) {
    const CommitCase c = GetParam();
    const std::string source = write(c.file, monoImage(120, 70, c.photometric, c.paperBit), c.format);
    auto rasters = attach({{{"file", c.file}}});
    RasterTarget* target = load(rasters[0]);
    ASSERT_NE(target, nullptr);
    for (const char* output : {static_cast<const char*>(nullptr), "as-tiff.tif"}) {
        EditScope scope(rasters[0]);
        std::uint8_t* bytes = nullptr;
        PixelFormat format{IMAGECOLOR_Monochrome, 0, {}};
        BitmapSize size{};
        v_rasterDisplayModeCurrent("OFF");
        ASSERT_EQ(j_bitmapRead(&bytes, &format, &scope.target()->wholeBlock, &size), SUCCESS);
        v_rasterDisplayModeCurrent("ON");
        const DPoint3d origin{0, 0, 0};
        const std::string out = output ? path(output) : std::string();
        EXPECT_NE(pv_rasterCommitFile(bytes, &size, &origin, nullptr, output ? out.c_str() : nullptr, "copied", true,
                                      false, false),
                  nullptr);
        std::free(bytes);
        const std::string made =
            output ? out : path(std::string(c.file).insert(std::string(c.file).rfind('.'), "-copied"));
        ASSERT_TRUE(fs::exists(made)) << made;
        EXPECT_EQ(shownBlack(made), shownBlack(source)) << made;
    }
}

INSTANTIATE_TEST_SUITE_P(
    NormalAndNegativeScans, CommittedFileShowsAsItsSource,
    ::testing::Values(CommitCase{"n.tif", img::FileFormat::Tiff, img::Photometric::MinIsWhite, false},
                      CommitCase{"nb.tif", img::FileFormat::Tiff, img::Photometric::MinIsBlack, true},
                      CommitCase{"neg.tif", img::FileFormat::Tiff, img::Photometric::MinIsWhite, true},
                      CommitCase{"n.png", img::FileFormat::Png, img::Photometric::MinIsBlack, true},
                      CommitCase{"neg.png", img::FileFormat::Png, img::Photometric::MinIsBlack, false},
                      CommitCase{"n.bmp", img::FileFormat::Bmp, img::Photometric::MinIsWhite, false},
                      CommitCase{"neg.bmp", img::FileFormat::Bmp, img::Photometric::MinIsWhite, true}));

TEST_F(Commit, ReplacingCommitBacksUpAndReattachesInPlace) {
    const std::string source = write("crop.tif", monoImage(100, 60, img::Photometric::MinIsWhite, false));
    auto rasters = attach({{{"file", "crop.tif"}, {"origin", {10, 20, 0}}, {"rotation", 30.0}}});
    RasterTarget* target = load(rasters[0]);
    ASSERT_NE(target, nullptr);
    const BitmapSize size{40, 30};
    std::uint8_t* bytes = nullptr;
    v_bitmapNewCanvas(&bytes, &size);
    const DPoint3d origin{12, 22, 0};
    DgnRasterP created = pv_rasterCommitFile(bytes, &size, &origin, nullptr, nullptr, "cropped", false, false, true);
    std::free(bytes);
    EXPECT_TRUE(fs::exists(path("crop-backup.tif")));
    EXPECT_FALSE(fs::exists(path("crop-cropped.tif")));
    const img::Image replaced = img::readImage(source).image;
    EXPECT_EQ(replaced.width, 40);
    EXPECT_EQ(replaced.height, 30);
    const nlohmann::json dump = subhost::raster::dumpRasters();
    ASSERT_EQ(dump["rasters"].size(), 1u);
    EXPECT_EQ(dump["rasters"][0]["origin"][0], 12.0);
    EXPECT_EQ(dump["rasters"][0]["rotation"], 30.0);
    EXPECT_NE(created, nullptr);
    EXPECT_NE(created, rasters[0]);
    EXPECT_EQ(currentRaster(), rasters[0]);  // the caller decides what becomes current
}

// Re-opening an attachment on another file keeps its place, size and rendering; on its own file it
// changes nothing; on a file that cannot be opened it gives ERROR.
TEST_F(Commit, ReopenOnAnotherFileKeepsPlaceAndRendering) {
    write("a.tif", monoImage(40, 30, img::Photometric::MinIsWhite, false));
    write("b.tif", monoImage(40, 30, img::Photometric::MinIsWhite, true));
    auto rasters = attach({{{"file", "a.tif"}, {"origin", {10, 20, 0}}, {"rotation", 30.0}}});
    DgnRasterP raster = rasters[0];
    const nlohmann::json before = subhost::raster::dumpRasters()["rasters"][0];
    EXPECT_EQ(j_rasterReopen(&raster, path("a.tif").c_str(), false), SUCCESS);
    EXPECT_EQ(raster, rasters[0]);
    EXPECT_EQ(subhost::raster::dumpRasters()["rasters"][0], before);

    EXPECT_EQ(j_rasterReopen(&raster, path("b.tif").c_str(), true), SUCCESS);
    const nlohmann::json dump = subhost::raster::dumpRasters();
    ASSERT_EQ(dump["rasters"].size(), 1u);
    const nlohmann::json& after = dump["rasters"][0];
    EXPECT_EQ(after["path"], path("b.tif"));
    EXPECT_EQ(after["readOnly"], true);
    for (const char* kept : {"origin", "extent", "rotation", "affinity", "foreground", "background"})
        EXPECT_EQ(after[kept], before[kept]) << kept;

    EXPECT_EQ(j_rasterReopen(&raster, path("missing.tif").c_str(), false), ERROR);
}

TEST_F(Commit, OutputDialogRefusesTheSourceAndAttachedFiles) {
    write("src.png", monoImage(16, 16, img::Photometric::MinIsWhite, false), img::FileFormat::Png);
    write("other.png", monoImage(16, 16, img::Photometric::MinIsWhite, false), img::FileFormat::Png);
    auto rasters = attach({{{"file", "src.png"}}, {{"file", "other.png"}}});
    ASSERT_NE(load(rasters[0]), nullptr);
    subhost::queueFileAnswer(path("src.png"));
    subhost::queueFileAnswer(path("other.png"));
    subhost::queueFileAnswer(path("fresh.png"));
    // Both files exist: the host's dialog asks to replace each before the add-on sees the name.
    subhost::queueAnswer(ACTIONBUTTON_YES);
    subhost::queueAnswer(ACTIONBUTTON_YES);
    char name[256];
    std::snprintf(name, sizeof name, "%s", path("src-copied.png").c_str());
    EXPECT_EQ(j_outputRasterAsk(name), SUCCESS);
    EXPECT_EQ(std::string(name), path("fresh.png"));
    ASSERT_EQ(messages().size(), 4u);
    EXPECT_EQ(messages()[1], "Sorry, you cannot overwrite your source raster. Please specify another output file.");
    EXPECT_NE(messages()[3].find("is already attched to current design file"), std::string::npos);
    subhost::queueFileAnswer(std::nullopt);
    EXPECT_EQ(j_outputRasterAsk(name), ERROR);
}

TEST_F(Commit, LzwThirtyTwoBitFileIsConvertedInPlace) {
    img::Image image = img::makeImage(20, 10, img::ColorMode::Rgba).image;
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        image.pixels[i] = 10;
        image.pixels[i + 1] = 20;
        image.pixels[i + 2] = 30;
        image.pixels[i + 3] = 255;
    }
    image.compression = img::Compression::Lzw;
    const std::string file = write("rgba.tif", image);
    auto rasters = attach({{{"file", "rgba.tif"}}});
    subhost::queueAnswer(ACTIONBUTTON_YES);
    EXPECT_EQ(load(rasters[0]), nullptr);  // the command ends; the next run finds 24-bit colour
    const img::Image converted = img::readImage(file).image;
    EXPECT_EQ(converted.mode, img::ColorMode::Rgb);
    EXPECT_EQ(converted.pixels[1], 20);
    EXPECT_FALSE(fs::exists(path("rgba-rasconv.tif")));
    RasterTarget* t = load(rasters[0]);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->bitsPerPixel, 24u);
}

// A file that replaces its source (crop in place, the 32-bit conversion) goes over it in one
// rename: a kill once the new file is written leaves the source's name holding the old whole file.
TEST_F(Commit, SourceNameHoldsAWholeFileWhenKilledBeforeTheReplacement) {
    ::testing::FLAGS_gtest_death_test_style = "fast";
    const std::string crop = write("crop.tif", monoImage(100, 60, img::Photometric::MinIsWhite, false));
    const std::string rgba = write("rgba.tif", rgbaWithAlpha());
    const std::string cropBefore = fileBytes(crop), rgbaBefore = fileBytes(rgba);
    auto rasters = attach({{{"file", "crop.tif"}}, {{"file", "rgba.tif"}}});
    ASSERT_NE(load(rasters[0]), nullptr);
    const auto cropInPlace = [] {
        v_commitReplaceHookSet(killNow);
        const BitmapSize size{40, 30};
        std::uint8_t* bytes = nullptr;
        v_bitmapNewCanvas(&bytes, &size);
        const DPoint3d origin{0, 0, 0};
        pv_rasterCommitFile(bytes, &size, &origin, nullptr, nullptr, "cropped", false, false, true);
    };
    EXPECT_EXIT((cropInPlace(), std::exit(0)), ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(fileBytes(crop), cropBefore);
    const auto convert = [this, &rasters] {
        v_commitReplaceHookSet(killNow);
        subhost::queueAnswer(ACTIONBUTTON_YES);
        load(rasters[1]);
    };
    EXPECT_EXIT((convert(), std::exit(0)), ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(fileBytes(rgba), rgbaBefore);
}

// A backup that cannot be made (its name is taken by a folder) is said in the message centre, not in a
// message box. An in-place write goes ahead; a result that would replace its source is kept beside it.
TEST_F(Backups, AFailedBackupIsSaidAndAReplacementKeepsTheSource) {
    write("scan.tif", monoImage(64, 40, img::Photometric::MinIsWhite, false));
    const std::string crop = write("crop.tif", monoImage(100, 60, img::Photometric::MinIsWhite, false));
    fs::create_directory(path("scan-backup.tif"));
    fs::create_directory(path("crop-backup.tif"));
    const std::string cropBefore = fileBytes(crop);
    auto rasters = attach({{{"file", "scan.tif"}}, {{"file", "crop.tif"}}});
    RasterTarget* target = load(rasters[0]);
    ASSERT_NE(target, nullptr);
    std::uint8_t* bytes = nullptr;
    PixelFormat format{IMAGECOLOR_Monochrome, 0, {}};
    BitmapSize size{};
    ASSERT_EQ(j_bitmapRead(&bytes, &format, &target->wholeBlock, &size), SUCCESS);
    EXPECT_EQ(j_bitmapWrite(bytes, &format, &target->wholeBlock, &size), SUCCESS);
    std::free(bytes);
    ASSERT_EQ(centreErrors().size(), 1u);
    EXPECT_NE(centreErrors()[0].find("Unable to make a backup of <" + path("scan.tif") + "> as <" +
                                     path("scan-backup.tif") + ">"),
              std::string::npos)
        << centreErrors()[0];

    ASSERT_NE(load(rasters[1]), nullptr);
    const BitmapSize cropSize{40, 30};
    v_bitmapNewCanvas(&bytes, &cropSize);
    const DPoint3d origin{0, 0, 0};
    pv_rasterCommitFile(bytes, &cropSize, &origin, nullptr, nullptr, "cropped", false, false, true);
    std::free(bytes);
    EXPECT_EQ(fileBytes(crop), cropBefore);
    EXPECT_EQ(img::readImage(path("crop-cropped.tif")).image.width, 40);
    ASSERT_EQ(centreErrors().size(), 2u);
    EXPECT_NE(centreErrors()[1].find(path("crop-cropped.tif")), std::string::npos) << centreErrors()[1];
    EXPECT_EQ(subhost::raster::dumpRasters()["rasters"].back()["path"], path("crop-cropped.tif"));
    EXPECT_TRUE(messages().empty());
}

// The conversion to 24-bit colour drops the alpha channel: the 32-bit original is kept first (even
// with backups switched off), and when it cannot be kept the file is not converted.
TEST_F(Commit, ConversionKeepsTheThirtyTwoBitOriginalOrRefuses) {
    s__globals.Backup = 0;
    const std::string kept = write("kept.tif", rgbaWithAlpha());
    const std::string refused = write("refused.tif", rgbaWithAlpha());
    const std::string original = fileBytes(kept);
    fs::create_directory(path("refused-backup.tif"));
    auto rasters = attach({{{"file", "kept.tif"}}, {{"file", "refused.tif"}}});

    subhost::queueAnswer(ACTIONBUTTON_YES);
    EXPECT_EQ(load(rasters[0]), nullptr);
    EXPECT_EQ(img::readImage(kept).image.mode, img::ColorMode::Rgb);
    EXPECT_EQ(fileBytes(path("kept-backup.tif")), original);

    subhost::queueAnswer(ACTIONBUTTON_YES);
    EXPECT_EQ(load(rasters[1]), nullptr);
    EXPECT_EQ(fileBytes(refused), original);
    EXPECT_FALSE(fs::exists(path("refused-rasconv.tif")));
    ASSERT_FALSE(messages().empty());
    EXPECT_NE(messages().back().find("left as it was"), std::string::npos) << messages().back();
}

// "Create output raster": an existing file is replaced only after a yes; a folder or a device node
// is refused and the dialog asks again. The host's save refuses whatever is not a regular file.
TEST_F(Commit, OutputFileIsReplacedOnlyAfterAYesAndNeverWhenNotAFile) {
    write("src.png", monoImage(16, 16, img::Photometric::MinIsWhite, false), img::FileFormat::Png);
    auto rasters = attach({{{"file", "src.png"}}});
    ASSERT_NE(load(rasters[0]), nullptr);
    touch(path("notes.png"));
    ASSERT_EQ(::mkfifo(path("pipe.png").c_str(), 0600), 0);
    fs::create_directory(path("folder.png"));
    for (const char* answer : {"pipe.png", "folder.png", "notes.png", "notes.png"})
        subhost::queueFileAnswer(path(answer));
    subhost::queueAnswer(ACTIONBUTTON_NO);
    subhost::queueAnswer(ACTIONBUTTON_YES);
    char name[256];
    std::snprintf(name, sizeof name, "%s", path("src-copied.png").c_str());
    EXPECT_EQ(j_outputRasterAsk(name), SUCCESS);
    EXPECT_EQ(std::string(name), path("notes.png"));
    const auto shown = messages();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_NE(shown[0].find("not a regular file"), std::string::npos) << shown[0];
    EXPECT_NE(shown[1].find("not a regular file"), std::string::npos) << shown[1];
    EXPECT_NE(shown[2].find("already exists"), std::string::npos) << shown[2];
    EXPECT_EQ(shown[3], shown[2]);

    const BitmapSize size{16, 16};
    const std::vector<std::uint8_t> bytes(32, 0x0F);
    EXPECT_NE(j_bitmapSaveFile(path("pipe.png").c_str(), IMAGEFILE_PNG, bytes.data(), &size), SUCCESS);
    struct stat st {};
    ASSERT_EQ(::stat(path("pipe.png").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

}  // namespace
}  // namespace testraster
