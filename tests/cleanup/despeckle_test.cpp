// Despeckle: counts of speckles of each size with their messages and questions, removal only on yes,
// the whole raster, a fence polygon and blocks, and the library kept across the areas of one command.
#include "cleanup_fixture.h"

#include <locale.h>

#include <set>
#include <utility>
#include <vector>

#include "cleanup/despeckle.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;  // (x, row from the top)

const char* const kNoneFound =
    "PixelMend found no pixels to despeckle. Try Despeckle again\nwith a larger number of contiguous pixels defined.";

class DespeckleTest : public CleanupTest {
protected:
    static constexpr int kSide = 300;
    std::string path;

    // A 300 x 300 scan with a long ink line across row 150 and ink at each pixel of ink; the add-on
    // loaded with the despeckle command in mode (whole raster: picked with a data point).
    void startWith(const Pixels& ink, int mode) {
        path = monoFile("scan.tif", kSide, kSide, [&](int x, int row) { return row == 150 || ink.count({x, row}); });
        start({{{"file", "scan.tif"}}});
        s__globals.DespeckleMode = mode;
        command(rid::CMD_DESPECKLE);
    }
    // The first count single pixels of a grid 4 pixels apart above the line.
    static Pixels grid(int count) {
        Pixels out;
        for (int i = 0; i < count; ++i) out.insert({2 + 4 * (i % 74), 2 + 4 * (i / 74) % 148});
        return out;
    }
    // Whether the written file still holds each pixel, and the line.
    int kept(const Pixels& pixels) {
        const img::Image out = readBack(path);
        for (int x = 0; x < kSide; ++x) EXPECT_TRUE(inkAt(out, x, 150)) << "line at " << x;
        int n = 0;
        for (const auto& [x, row] : pixels) n += inkAt(out, x, row);
        return n;
    }
    // Whole-raster run: the raster picked, the answer given.
    void pickWhole(int answer) {
        subhost::queueAnswer(answer);
        point(100, 100);
    }
};

TEST_F(DespeckleTest, ACleanScanGetsTheNothingFoundNoticeWithItsLineBreak) {
    startWith({}, 5);
    const std::string before = bytesOf(path);
    point(100, 100);
    EXPECT_EQ(messages(), std::vector<std::string>{kNoneFound});
    EXPECT_EQ(events("messageBox").back().value("icon", 0), ICON_INFO);
    subhost::closeDesign();
    EXPECT_EQ(bytesOf(path), before);
}

TEST_F(DespeckleTest, OneSpeckleIsAskedAboutInTheSingularAndNoKeepsTheFile) {
    startWith({{40, 40}}, 5);
    const std::string before = bytesOf(path);
    pickWhole(ACTIONBUTTON_NO);
    EXPECT_EQ(messages(), std::vector<std::string>{"PixelMend has found 1 speckle. Would you like to remove it?"});
    EXPECT_EQ(events("messageBox").back().value("icon", 0), ICON_QUESTION);
    subhost::closeDesign();
    EXPECT_EQ(bytesOf(path), before);
    EXPECT_EQ(cleanupLibraryLoaded(), CleanupLibrary::None);
}

TEST_F(DespeckleTest, ManySpecklesAreCountedInTheUsersGroupingAndRemovedOnYes) {
    const locale_t probe = newlocale(LC_NUMERIC_MASK, "en_US.UTF-8", locale_t(0));
    if (probe == locale_t(0)) GTEST_SKIP() << "the en_US.UTF-8 locale is missing (scripts/setup.sh makes it)";
    freelocale(probe);
    const ScopedEnv locale("LC_ALL", "en_US.UTF-8");
    const Pixels speckles = grid(1234);
    startWith(speckles, 5);
    pickWhole(ACTIONBUTTON_YES);
    EXPECT_EQ(messages(),
              std::vector<std::string>{"PixelMend has found 1,234 speckles. Would you like to remove them?"});
    subhost::closeDesign();
    EXPECT_EQ(kept(speckles), 0);
}

TEST_F(DespeckleTest, TheSizeSettingsDecideWhatCountsAsASpeckle) {
    // Three single pixels, two 2 x 2 squares and one 3 x 1 bar.
    const Pixels singles = {{10, 10}, {30, 10}, {50, 10}};
    const Pixels squares = {{10, 40}, {11, 40}, {10, 41}, {11, 41}, {30, 40}, {31, 40}, {30, 41}, {31, 41}};
    const Pixels bar = {{10, 70}, {11, 70}, {12, 70}};
    Pixels all = singles;
    all.insert(squares.begin(), squares.end());
    all.insert(bar.begin(), bar.end());
    const std::vector<std::tuple<int, int, const char*>> cases = {
        {1, 1, "PixelMend has found 3 speckles. Would you like to remove them?"},
        {2, 2, "PixelMend has found 5 speckles. Would you like to remove them?"},
        {3, 1, "PixelMend has found 4 speckles. Would you like to remove them?"},
        {3, 2, "PixelMend has found 6 speckles. Would you like to remove them?"},
    };
    for (const auto& [across, down, text] : cases) {
        SCOPED_TRACE(std::to_string(across) + "x" + std::to_string(down));
        startWith(all, 5);
        s__globals.DespeckleX = across;
        s__globals.DespeckleY = down;
        pickWhole(ACTIONBUTTON_YES);
        EXPECT_EQ(messages(), std::vector<std::string>{text});
        subhost::closeDesign();
        subhost::setDefaultAnswer(ACTIONBUTTON_NO);
        subhost::unloadApplication(0);
        EXPECT_EQ(kept(singles), 0);
        EXPECT_EQ(kept(squares), across >= 2 && down >= 2 ? 0 : 8);
        EXPECT_EQ(kept(bar), across >= 3 ? 0 : 3);
    }
}

TEST_F(DespeckleTest, WithoutPromptsTheSpecklesGoWithoutAQuestion) {
    const Pixels speckles = grid(20);
    startWith(speckles, 5);
    s__globals.DisplayPrompts = 0;
    point(100, 100);
    EXPECT_TRUE(messages().empty());
    subhost::closeDesign();
    EXPECT_EQ(kept(speckles), 0);
}

// A triangular fence: the speckles inside go, those outside it but inside its bounding block stay.
TEST_F(DespeckleTest, AFencePolygonKeepsTheSpecklesOutsideIt) {
    const Pixels inside = {{40, 250}, {60, 260}, {30, 200}};      // near the triangle's right-angle corner
    const Pixels outside = {{190, 130}, {180, 120}, {140, 140}};  // beyond its long side, within its block
    Pixels all = inside;
    all.insert(outside.begin(), outside.end());
    path = monoFile("scan.tif", kSide, kSide, [&](int x, int row) { return all.count({x, row}) > 0; });
    start({{{"file", "scan.tif"}}}, false,
          {{"fence", {{"points", {{20.5, 20.5}, {200.5, 20.5}, {20.5, 200.5}}}, {"view", 0}}}});
    s__globals.DespeckleMode = 0;
    command(rid::CMD_DESPECKLE);
    subhost::queueAnswer(ACTIONBUTTON_YES);
    point(20.5, 20.5);
    EXPECT_EQ(messages(), std::vector<std::string>{"PixelMend has found 3 speckles. Would you like to remove them?"});
    subhost::closeDesign();
    const img::Image out = readBack(path);
    for (const auto& [x, row] : inside) EXPECT_FALSE(inkAt(out, x, row)) << x << "," << row;
    for (const auto& [x, row] : outside) EXPECT_TRUE(inkAt(out, x, row)) << x << "," << row;
}

// Two blocks in one command: the library is loaded for the first and kept for the second, then
// released when the command ends.
TEST_F(DespeckleTest, TwoBlocksInBlockModeLoadTheLibraryOnce) {
    const Pixels first = {{30, 30}, {40, 40}};
    const Pixels second = {{130, 30}, {140, 40}};
    const Pixels elsewhere = {{250, 250}};
    Pixels all = first;
    all.insert(second.begin(), second.end());
    all.insert(elsewhere.begin(), elsewhere.end());
    startWith(all, 1);
    points({{20, 280}, {60, 250}});  // the block around the first pair (design y up)
    subhost::queueAnswer(ACTIONBUTTON_YES);
    point(20, 280);  // despeckles the block where it was drawn
    ASSERT_EQ(cleanupLibraryLoaded(), CleanupLibrary::Despeckle);
    const std::int64_t handle = n_cleanupLibraryHandle();
    subhost::queueAnswer(ACTIONBUTTON_YES);
    point(120, 280);  // the same block moved over the second pair
    EXPECT_EQ(messages().size(), 2u);
    EXPECT_EQ(cleanupLibraryLoaded(), CleanupLibrary::Despeckle);
    EXPECT_EQ(n_cleanupLibraryHandle(), handle);
    mdlState_startDefaultCommand();
    EXPECT_EQ(cleanupLibraryLoaded(), CleanupLibrary::None);
    subhost::closeDesign();
    EXPECT_EQ(kept(first), 0);
    EXPECT_EQ(kept(second), 0);
    EXPECT_EQ(kept(elsewhere), 1);
}

TEST_F(DespeckleTest, AMissingLibraryStopsSilentlyWithTheRasterUntouched) {
    const ScopedEnv nowhere("PIXELMEND_LIBRARY_PATH", dir.string());
    startWith(grid(5), 5);
    const std::string before = bytesOf(path);
    point(100, 100);
    EXPECT_TRUE(messages().empty());
    subhost::closeDesign();
    EXPECT_EQ(bytesOf(path), before);
}

}  // namespace
