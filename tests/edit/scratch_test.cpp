// The scratch raster area: its file name and folder rules with their messages, the rectangle of the
// picked raster's proportions, the zero raster written and attached at the lower-left corner, one
// scratch area at a time, and detaching.
#include <sys/stat.h>

#include "edit_fixture.h"
#include "settings/settings_fixture.h"

namespace {

namespace fs = std::filesystem;

class ScratchTest : public EditTest {
protected:
    std::string scratchPath() const { return (dir / "site_pxmend_scratch.tif").string(); }

    // A 1000 x 750 grey raster at the origin with 1 design unit a pixel.
    void startPicture() {
        greyFile("scan.tif", 1000, 750);
        start({{{"file", "scan.tif"}}});
    }
    const DgnRaster* scratch() {
        for (DgnRasterP r : rasters())
            if (r->path.find("_pxmend_scratch") != std::string::npos) return r;
        return nullptr;
    }
};

TEST_F(ScratchTest, TheExampleRectangleGivesTenthUnitPixelsAtTheFirstCorner) {
    startPicture();
    command(rid::CMD_SCRATCH_ATTACH);
    EXPECT_EQ(s__globals.ScratchWidth, 1000);
    EXPECT_EQ(s__globals.ScratchHeight, 750);
    ASSERT_TRUE(fs::exists(scratchPath()));  // made before the corners are given
    point(10, 10);
    subhost::cursorMove(DPoint3d{110, 35, 0}, 0);
    point(110, 35);
    const DgnRaster* s = scratch();
    ASSERT_NE(s, nullptr) << nlohmann::json(subhost::transcript()).dump();
    EXPECT_NEAR(s->geo.origin.x, 10, 1e-9);
    EXPECT_NEAR(s->geo.origin.y, 10, 1e-9);
    EXPECT_NEAR(s->geo.extentX, 100, 1e-9);
    EXPECT_NEAR(s->geo.extentY, 75, 1e-9);
    const img::ImageResult file = img::readImage(scratchPath());
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_EQ(file.image.width, 1000);
    EXPECT_EQ(file.image.height, 750);
    EXPECT_EQ(file.image.mode, img::ColorMode::Grey8);
    for (std::uint8_t byte : file.image.pixels) ASSERT_EQ(byte, 0);
    // The picked raster keeps its own pixel size.
    EXPECT_NEAR(rasters()[0]->geo.extentX, 1000, 1e-9);
}

TEST_F(ScratchTest, DraggingDownAndLeftPutsTheCornerAtTheLowerLeft) {
    startPicture();
    s__globals.ScratchDirOption = 1;
    command(rid::CMD_SCRATCH_ATTACH);
    point(200, 200);
    point(150, 190);  // x decides: 50 units left, so 37.5 down
    const DgnRaster* s = scratch();
    ASSERT_NE(s, nullptr);
    EXPECT_NEAR(s->geo.origin.x, 150, 1e-9);
    EXPECT_NEAR(s->geo.origin.y, 162.5, 1e-9);
    EXPECT_NEAR(s->geo.extentX, 50, 1e-9);
    EXPECT_NEAR(s->geo.extentY, 37.5, 1e-9);
}

TEST_F(ScratchTest, FolderOptionsAndTheirMessages) {
    startPicture();
    s__globals.ScratchDirOption = 2;
    command(rid::CMD_SCRATCH_ATTACH);
    EXPECT_TRUE(shown("You haven't specified folder for scratch raster."));
    point(10, 10);
    point(20, 20);
    EXPECT_EQ(scratch(), nullptr);

    std::snprintf(s__globals.ScratchDir, sizeof s__globals.ScratchDir, "%s", (dir / "missing").c_str());
    command(rid::CMD_SCRATCH_ATTACH);
    EXPECT_TRUE(shown("Folder for scratch raster \"" + (dir / "missing").string() +
                      "\" is not valid. Please specify valid folder."))
        << nlohmann::json(messages()).dump();
    // A folder that cannot take files (here a plain file stands in its place).
    std::ofstream(dir / "plain") << "x";
    std::snprintf(s__globals.ScratchDir, sizeof s__globals.ScratchDir, "%s", (dir / "plain").c_str());
    command(rid::CMD_SCRATCH_ATTACH);
    EXPECT_TRUE(shown("Folder for scratch raster \"" + (dir / "plain").string() + "\" is not valid."));

    fs::create_directory(dir / "work");
    std::snprintf(s__globals.ScratchDir, sizeof s__globals.ScratchDir, "%s", (dir / "work").c_str());
    command(rid::CMD_SCRATCH_ATTACH);
    points({{0, 0}, {50, 50}});
    ASSERT_NE(scratch(), nullptr);
    EXPECT_EQ(scratch()->path, (dir / "work" / "site_pxmend_scratch.tif").string());
}

// A folder that exists but takes no new file (no write permission): refused with the folder's message,
// nothing attached. The command runs in a child process that cannot write there (as root, the child
// becomes an unprivileged user: mode bits do not hold root back).
TEST_F(ScratchTest, FolderWithoutWritePermissionIsRefused) {
    startPicture();
    const fs::path locked = dir / "locked";
    fs::create_directory(locked);
    s__globals.ScratchDirOption = 2;
    std::snprintf(s__globals.ScratchDir, sizeof s__globals.ScratchDir, "%s", locked.c_str());
    const int code = settings_test::j_writeInLockedFolder(locked, locked, [&] {
        command(rid::CMD_SCRATCH_ATTACH);
        points({{0, 0}, {100, 75}});
        const bool told = shown("Folder for scratch raster \"" + locked.string() + "\" is not valid.");
        return told && scratch() == nullptr && !fs::exists(locked / "site_pxmend_scratch.tif") ? 0 : 1;
    });
    EXPECT_EQ(code, 0) << "90: the folder took a file; 91: the child could not be set up";
}

TEST_F(ScratchTest, AbsoluteDesignNameInAFolderThatIsNotThere) {
    greyFile("scan.tif", 100, 100);
    start({{{"file", "scan.tif"}}}, false, {{"name", "/nonexistent-pxm/maps/plan.dgn"}});
    command(rid::CMD_SCRATCH_ATTACH);
    EXPECT_TRUE(shown("Unable to create raster scratch file /nonexistent-pxm/maps/plan_pxmend_scratch.tif."))
        << nlohmann::json(messages()).dump();
}

TEST_F(ScratchTest, OneAtATimeAndDetachLeavesTheFile) {
    startPicture();
    command(rid::CMD_SCRATCH_ATTACH);
    points({{0, 0}, {100, 75}});
    ASSERT_NE(scratch(), nullptr);
    const auto written = fs::last_write_time(scratchPath());

    // Answered no: the command ends and nothing changes.
    subhost::queueAnswer(ACTIONBUTTON_NO);
    command(rid::CMD_SCRATCH_ATTACH);
    point(500, 500);  // picks the raster
    EXPECT_TRUE(shown("A raster scratch area is already attached."));
    EXPECT_EQ(rasters().size(), 2u);
    EXPECT_EQ(fs::last_write_time(scratchPath()), written);

    subhost::clearTranscript();
    command(rid::CMD_SCRATCH_DETACH);
    EXPECT_EQ(scratch(), nullptr);
    EXPECT_TRUE(fs::exists(scratchPath()));
    EXPECT_TRUE(messages().empty());
    command(rid::CMD_SCRATCH_DETACH);
    EXPECT_TRUE(shown("Raster scratch area is not attached."));
}

TEST_F(ScratchTest, ANewScratchAreaReplacesTheOldOneAfterYes) {
    startPicture();
    command(rid::CMD_SCRATCH_ATTACH);
    points({{0, 0}, {100, 75}});
    subhost::queueAnswer(ACTIONBUTTON_YES);
    command(rid::CMD_SCRATCH_ATTACH);
    points({{500, 500}, {300, 300}, {340, 330}});
    ASSERT_EQ(rasters().size(), 2u);
    EXPECT_NEAR(scratch()->geo.origin.x, 300, 1e-9);
    EXPECT_NEAR(scratch()->geo.extentX, 40, 1e-9);
}

TEST_F(ScratchTest, ResetBeforeTheSecondCornerStartsTheRectangleAgain) {
    startPicture();
    command(rid::CMD_SCRATCH_ATTACH);
    point(0, 0);
    subhost::resetButton();
    points({{20, 20}, {120, 95}});
    ASSERT_NE(scratch(), nullptr);
    EXPECT_NEAR(scratch()->geo.origin.x, 20, 1e-9);
}

}  // namespace
