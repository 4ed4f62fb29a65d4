// The commit path: derived names, the one backup per file, new files that show
// exactly as their source, and the in-place conversion.
#include <cstdlib>
#include <fstream>

#include "raster/bitmap.h"
#include "host/hostwrap.h"
#include "raster/clip.h"
#include "raster/commit.h"
#include "raster_fixture.h"

namespace testraster {
namespace {

using DerivedNames = RasterTest;
using Backups = RasterTest;
using Commit = RasterTest;

void touch(const std::string& path) {
    std::ofstream(path) << "x";
}

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
    if (g_commit.backupList == nullptr) g_commit.backupList = mdlStringList_create(0, 1);
    mdlStringList_insertMember(g_commit.backupList, -1, w_widen(file.c_str()).c_str());
    mdlStringList_insertMember(g_commit.backupList, -1, w_widen(file.c_str()).c_str());
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
        g_rasterTargets.currentRaster = rasters[0];
        g_rasterTargets.currentTarget = pv_rasterTargetFind(rasters[0]);
        std::uint8_t* bytes = nullptr;
        PixelFormat format{IMAGECOLOR_Monochrome, 0, {}};
        BitmapSize size{};
        v_rasterDisplayModeCurrent("OFF");
        ASSERT_EQ(j_bitmapRead(&bytes, &format, &g_rasterTargets.currentTarget->wholeBlock, &size), SUCCESS);
        v_rasterDisplayModeCurrent("ON");
        const DPoint3d origin{0, 0, 0};
        const std::string out = output ? path(output) : std::string();
        v_rasterCommitFile(bytes, &size, &origin, nullptr, output ? out.c_str() : nullptr, "copied", true, false,
                           false);
        std::free(bytes);
        const std::string made = output ? out : path(std::string(c.file).insert(std::string(c.file).rfind('.'), "-copied"));
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
    v_rasterCommitFile(bytes, &size, &origin, nullptr, nullptr, "cropped", false, false, true);
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
    EXPECT_NE(g_rasterTargets.currentRaster, rasters[0]);
}

TEST_F(Commit, OutputDialogRefusesTheSourceAndAttachedFiles) {
    write("src.png", monoImage(16, 16, img::Photometric::MinIsWhite, false), img::FileFormat::Png);
    write("other.png", monoImage(16, 16, img::Photometric::MinIsWhite, false), img::FileFormat::Png);
    auto rasters = attach({{{"file", "src.png"}}, {{"file", "other.png"}}});
    ASSERT_NE(load(rasters[0]), nullptr);
    subhost::queueFileAnswer(path("src.png"));
    subhost::queueFileAnswer(path("other.png"));
    subhost::queueFileAnswer(path("fresh.png"));
    char name[256];
    std::snprintf(name, sizeof name, "%s", path("src-copied.png").c_str());
    EXPECT_EQ(j_outputRasterAsk(name), SUCCESS);
    EXPECT_EQ(std::string(name), path("fresh.png"));
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_EQ(messages()[0], "Sorry, you cannot overwrite your source raster. Please specify another output file.");
    EXPECT_NE(messages()[1].find("is already attched to current design file"), std::string::npos);
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

}  // namespace
}  // namespace testraster
