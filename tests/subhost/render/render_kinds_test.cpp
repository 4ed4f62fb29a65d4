// Pictures of every element kind as the host shows it: text as filled glyph
// outlines, cells' components, shared cell instances where they are placed,
// hatch lines inside their area only, reference elements at their offset, and
// levels a view turns off.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/scoped_env.h"
#include "subhost/host.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
const Rgb kBlack{0, 0, 0}, kGreen{0, 255, 0}, kRed{255, 0, 0}, kYellow{255, 255, 0}, kMagenta{255, 0, 255};

class RenderKinds : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("subhost-kinds-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        subhost::hostReset();
        userSettings.emplace("XDG_CONFIG_HOME", (dir / "config").string());
    }
    void TearDown() override {
        subhost::hostReset();
        userSettings.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // Opens doc (a view of 200 x 100 design units is added) and draws view 0 one pixel a unit.
    void draw(json doc) {
        doc["views"] = {{{"origin", {0, 0, 0}}, {"extent", {200, 100, 0}}, {"levelsOff", {9}}}};
        std::string error;
        ASSERT_TRUE(subhost::openDesignDocument(doc, dir.string(), &error)) << error;
        ASSERT_TRUE(subhost::renderView(0, 200, 100, &picture, &error)) << error;
    }
    // The colour at design point (x, y) (picture rows run downward from design y 100).
    Rgb at(int x, int y) const {
        const std::size_t i = (std::size_t(99 - y) * 200 + std::size_t(x)) * 3;
        return {picture.rgb[i], picture.rgb[i + 1], picture.rgb[i + 2]};
    }
    // Pixels of colour c within design box [x0, x1) x [y0, y1).
    int count(const Rgb& c, int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += at(x, y) == c;
        return n;
    }
    int countAll(const Rgb& c) const { return count(c, 0, 0, 200, 100); }

    fs::path dir;
    std::optional<ScopedEnv> userSettings;
    subhost::ViewPicture picture;
};

json square(double x, double y, double side) {
    return {{"type", "shape"}, {"points", {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}}}};
}

TEST_F(RenderKinds, TextIsDrawnAsFilledGlyphOutlinesWithTheirHoles) {
    draw({{"elements",
           {{{"id", 1}, {"type", "text"}, {"origin", {20, 20}}, {"text", "O"}, {"height", 60}, {"color", 2}}}}});
    const int ink = count(kGreen, 15, 15, 85, 85);
    EXPECT_GT(ink, 400) << "the glyph's area is filled";
    EXPECT_EQ(countAll(kGreen), ink) << "nothing is drawn away from the text";
    // The middle of an O is its hole: paper, not ink.
    int holeInk = 0;
    for (int x = 0; x < 200; ++x)
        if (at(x, 50) == kGreen) ++holeInk;
    EXPECT_GE(holeInk, 4) << "the two strokes of the O cross row 50";
    EXPECT_LT(holeInk, 40) << "the hole between them stays open";
}

TEST_F(RenderKinds, CellsAndSharedCellsDrawTheirComponentsWherePlaced) {
    json cellSquare = square(0, 0, 10);
    cellSquare["filled"] = true;
    cellSquare["fillColor"] = 3;
    json yellowSquare = square(10, 10, 20);
    yellowSquare["color"] = 4;
    draw({{"sharedCells", {{"BOX", {{"origin", {0, 0}}, {"components", {cellSquare}}}}}},
          {"elements",
           {{{"id", 1}, {"type", "cell"}, {"name", "C"}, {"components", {yellowSquare}}},
            {{"id", 2}, {"type", "sharedCell"}, {"name", "BOX"}, {"origin", {150, 40}}, {"scale", 2}}}}});
    EXPECT_GT(count(kYellow, 9, 9, 32, 32), 60) << "the cell's square outline";
    EXPECT_EQ(at(155, 45), kRed) << "inside the instance, scaled 2 from its origin";
    EXPECT_EQ(at(168, 58), kRed);
    EXPECT_EQ(at(175, 45), kBlack) << "beyond twice the definition's size";
    EXPECT_EQ(at(145, 45), kBlack);
}

TEST_F(RenderKinds, HatchLinesStayInsideTheAreaAndOutOfItsHole) {
    json area = {{"id", 1},
                 {"type", "cell"},
                 {"groupedHole", true},
                 {"components", {square(20, 20, 60), square(40, 40, 20)}},
                 {"color", 0},
                 {"pattern", {{"angle", 45}, {"spacing", 4}, {"color", 5}}}};
    area["components"][1]["hole"] = true;
    draw({{"elements", {area}}});
    EXPECT_GT(count(kMagenta, 21, 21, 79, 79), 300) << "the area is hatched";
    EXPECT_EQ(count(kMagenta, 42, 42, 58, 58), 0) << "the hole is not";
    EXPECT_EQ(count(kMagenta, 0, 0, 200, 100), count(kMagenta, 19, 19, 82, 82)) << "nothing beyond the outline";
}

TEST_F(RenderKinds, ReferenceElementsShowAtTheirOffsetAndHiddenLevelsDoNot) {
    std::ofstream(dir / "other.json")
        << json{{"elements", {{{"id", 1}, {"type", "line"}, {"points", {{0, 0}, {0, 30}}}, {"color", 3}}}}}.dump();
    draw({{"references", {{{"file", "other.json"}, {"offset", {120, 10}}}}},
          {"elements",
           {{{"id", 1}, {"type", "line"}, {"points", {{10, 80}, {90, 80}}}, {"color", 2}, {"level", 9}},
            {{"id", 2}, {"type", "line"}, {"points", {{10, 90}, {90, 90}}}, {"color", 2}}}}});
    EXPECT_EQ(at(120, 25), kRed) << "the reference's line, moved by its offset";
    EXPECT_EQ(at(0, 25), kBlack);
    EXPECT_EQ(count(kGreen, 0, 78, 200, 83), 0) << "level 9 is off in the view";
    EXPECT_GT(count(kGreen, 0, 88, 200, 93), 70);
}

TEST_F(RenderKinds, AFontThatDoesNotExistFallsBackWithANote) {
    draw({{"elements",
           {{{"id", 1},
             {"type", "text"},
             {"origin", {10, 10}},
             {"text", "AB"},
             {"height", 30},
             {"font", "No Such Font 12345"},
             {"color", 2}}}}});
    EXPECT_GT(countAll(kGreen), 100) << "drawn in the default font";
    bool noted = false;
    for (const std::string& n : picture.notes) noted = noted || n.find("No Such Font 12345") != std::string::npos;
    EXPECT_TRUE(noted) << "the note names the missing font";
}

}  // namespace
