// The stamp command run through the host: element sets, questions and messages, pens and dashes measured
// in the written file, fills, grouped holes, the boundary, StampDelete with undo and redo.
#include <clocale>
#include <cstdlib>

#include "common/scoped_env.h"
#include "edit/edit_fixture.h"
#include "stamp/stamp.h"
#include "subhost/elements.h"
#include "subhost/selection.h"

namespace {

class StampRunTest : public EditTest {
protected:
    // A white monochrome 200 x 100 scan at the origin (one design unit a pixel), the add-on loaded with
    // elements (and further design keys).
    void startMono(const nlohmann::json& elements, const nlohmann::json& extra = nlohmann::json::object()) {
        monoFile("scan.tif", 200, 100, [](int, int) { return false; });
        nlohmann::json design = extra;
        design["elements"] = withIds(elements);
        start({{{"file", "scan.tif"}}}, false, design);
        s__globals.StampMode = 5;
        s__globals.DisplayPrompts = 0;
    }

    // Stamp on the only raster in mode 5 (or the mode set), with the data point on the raster.
    void stamp(double x = 100.5, double y = 50.5) {
        command(rid::CMD_STAMP);
        point(x, y);
    }

    // The written file read back (after the design's edits are saved).
    img::Image onDisk(const std::string& name = "scan.tif") {
        std::string error;
        EXPECT_TRUE(subhost::saveDesignAs("", &error)) << error;
        img::ImageResult read = img::readImage((dir / name).string());
        EXPECT_TRUE(read.ok) << read.error;
        return read.image;
    }

    // Ink of a monochrome image at (x, row).
    static bool ink(const img::Image& image, int x, int row) {
        const bool bit = (image.pixels[std::size_t(row) * image.stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
        return image.photometric == img::Photometric::MinIsWhite ? bit : !bit;
    }

    // Alternating runs of ink and paper along row from x = from (starting with ink) up to x = to.
    static std::vector<int> runs(const img::Image& image, int row, int from, int to) {
        std::vector<int> out;
        bool want = true;
        int length = 0;
        for (int x = from; x < to; ++x) {
            if (ink(image, x, row) == want) {
                ++length;
                continue;
            }
            out.push_back(length);
            want = !want;
            length = 1;
        }
        out.push_back(length);
        return out;
    }

    // Rows of column x that carry ink.
    static int inkHeight(const img::Image& image, int x) {
        int n = 0;
        for (int row = 0; row < image.height; ++row) n += ink(image, x, row);
        return n;
    }

    // The elements numbered from 1 in order.
    static nlohmann::json withIds(nlohmann::json elements) {
        for (std::size_t i = 0; i < elements.size(); ++i) elements[i]["id"] = i + 1;
        return elements;
    }
    static const std::map<std::uint32_t, subhost::elements::DesignElement>& model() {
        return subhost::elements::elementState().elements;
    }
    static std::size_t elementCount() { return model().size(); }
    static bool hasElement(int id) {
        for (const auto& [pos, e] : model())
            if (e.id == id) return true;
        return false;
    }
    static int undoDepth() {
        const int depth = subhost::undo::undoGroups(1000);
        subhost::undo::redoGroups(depth);
        return depth;
    }

    std::vector<std::string> questions() const {
        std::vector<std::string> out;
        for (const auto& e : subhost::transcript())
            if (e.value("event", "") == "messageBox" && e.value("dialog", 0) == MSGBOX_YESNO)
                out.push_back(e.value("text", ""));
        return out;
    }
};

nlohmann::json line(double x0, double y0, double x1, double y1, int weight = 0, int style = 0) {
    return {{"type", "line"}, {"points", {{x0, y0}, {x1, y1}}}, {"weight", weight}, {"style", style}};
}

// Pens: weight 0 is one pixel wide, weight 31 thirty-two; line code 6 dashes 7, 4, 1, 4, 1, 4 and a
// custom code is solid; on a monochrome raster every element draws ink whatever its colour.
TEST_F(StampRunTest, PenWidthsAndDashesAreMeasuredInTheWrittenFile) {
    nlohmann::json thin = line(10, 90.5, 190, 90.5, 0);
    thin["color"] = 3;
    startMono({thin, line(100.5, 10, 100.5, 80, 31), line(10, 20.5, 90, 20.5, 0, 6), line(10, 40.5, 90, 40.5, 0, 9)});
    s__globals.StampDelete = 0;
    stamp();
    const img::Image image = onDisk();
    // Column 50 crosses the thin line and the solid custom-code line (the dashed line has a gap there).
    EXPECT_EQ(inkHeight(image, 50), 2);
    int wide = 0;
    for (int x = 60; x < 140; ++x) wide += ink(image, x, 50);
    EXPECT_EQ(wide, 32);
    const std::vector<int> dashes = runs(image, 100 - 21, 10, 34);  // row of y = 20.5
    ASSERT_GE(dashes.size(), 6u);
    EXPECT_EQ(std::vector<int>(dashes.begin(), dashes.begin() + 6), (std::vector<int>{7, 4, 1, 4, 1, 4}));
    EXPECT_EQ(runs(image, 100 - 41, 10, 90), std::vector<int>{80});
    EXPECT_TRUE(ink(image, 30, 100 - 91));
}

TEST_F(StampRunTest, QuestionCountsWithTheLocalesGroupingAndANoLeavesEverything) {
    nlohmann::json elements = nlohmann::json::array();
    for (int i = 0; i < 1234; ++i) elements.push_back(line(10 + i % 150, 10, 10 + i % 150, 20));
    startMono(elements);
    s__globals.DisplayPrompts = 1;
    const ScopedEnv all("LC_ALL", "en_US.UTF-8");
    subhost::setDefaultAnswer(ACTIONBUTTON_NO);
    stamp();
    EXPECT_EQ(questions(), std::vector<std::string>{"Stamp 1,234 overlapping elements to raster file?"});
    EXPECT_EQ(elementCount(), 1234u);
    EXPECT_TRUE(events("fileWritten").empty());
}

TEST_F(StampRunTest, QuestionTextsForOneAndTwelveFencedOrSelectedElements) {
    nlohmann::json elements = nlohmann::json::array();
    for (int i = 0; i < 12; ++i) elements.push_back(line(20 + i, 30, 20 + i, 40));
    startMono(elements,
              {{"fence", {{"points", {{5, 5}, {60, 5}, {60, 60}, {5, 60}}}, {"view", 0}}}, {"selection", {3}}});
    s__globals.DisplayPrompts = 1;
    subhost::setDefaultAnswer(ACTIONBUTTON_NO);
    s__globals.StampMode = 0;
    command(rid::CMD_STAMP);
    point(30, 30);
    s__globals.StampMode = 3;
    stamp();
    EXPECT_EQ(questions(), (std::vector<std::string>{"Stamp 12 fenced elements to raster file?",
                                                     "Stamp 1 selected element to raster file?"}));
}

TEST_F(StampRunTest, EmptySetsAndNoSelectionSayWhyAndOpenNoUndoGroup) {
    startMono({line(300, 300, 350, 350), line(400, 300, 450, 350)}, {{"selection", {1, 2}}});
    stamp();
    const int depth = undoDepth();  // from here on: loading the raster's record may have made a group
    s__globals.StampMode = 3;
    stamp();
    std::string error;
    ASSERT_TRUE(subhost::elements::selectIds({1}, &error)) << error;
    stamp();
    subhost::elements::clearSelection();
    stamp();
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "There are no elements overlapping this raster file to stamp.",
                              "Selected elements are outside raster boundary.",
                              "Selected element is outside raster boundary.",
                              "No elements are selected. Please select elements to stamp and re-run Stamp.",
                          }));
    EXPECT_EQ(undoDepth(), depth);
    EXPECT_EQ(elementCount(), 2u);
}

// A filled shape: its inside in the view with fills shown, its outline only with fills off.
TEST_F(StampRunTest, FilledShapeIsOutlinedOnlyWhenTheViewHidesFills) {
    const nlohmann::json square = {
        {"type", "shape"}, {"points", {{20, 20}, {60, 20}, {60, 60}, {20, 60}}}, {"filled", true}};
    startMono(nlohmann::json::array({square}));
    stamp();
    EXPECT_TRUE(ink(onDisk(), 40, 60));
    TearDown();
    SetUp();
    startMono(nlohmann::json::array({square}),
              {{"views", {{{"origin", {0, 0, 0}}, {"extent", {400, 400, 0}}, {"fill", false}}}}});
    stamp();
    const img::Image outline = onDisk();
    EXPECT_FALSE(ink(outline, 40, 60));
    EXPECT_TRUE(ink(outline, 20, 60));
}

// A grouped hole: the solid filled, the hole left open, both outlines drawn.
TEST_F(StampRunTest, GroupedHoleIsFilledExceptItsHole) {
    startMono(nlohmann::json::array(
        {{{"type", "cell"},
          {"groupedHole", true},
          {"components",
           {{{"type", "shape"}, {"points", {{20, 20}, {80, 20}, {80, 80}, {20, 80}}}, {"filled", true}},
            {{"type", "shape"}, {"points", {{40, 40}, {60, 40}, {60, 60}, {40, 60}}}, {"hole", true}}}}}}));
    stamp();
    const img::Image image = onDisk();
    EXPECT_TRUE(ink(image, 30, 100 - 30));
    EXPECT_FALSE(ink(image, 50, 100 - 50));
    EXPECT_TRUE(ink(image, 40, 100 - 50));
}

// An element crossing the raster's edge: the inside drawn, the outside kept as a new element, the element
// gone, all in one undo step that undo and redo take back and forth.
TEST_F(StampRunTest, CrossingElementKeepsItsOutsidePieceInOneUndoStep) {
    startMono(nlohmann::json::array({line(150, 50.5, 260, 50.5)}));
    s__globals.StampDelete = 1;
    stamp();
    EXPECT_FALSE(hasElement(1));
    ASSERT_EQ(elementCount(), 1u);
    const nlohmann::json dumped = subhost::elements::elementJson(model().begin()->second.shape);
    EXPECT_NEAR(dumped["points"][0][0].get<double>(), 200.0, 1e-6) << dumped.dump();
    const img::Image image = onDisk();
    EXPECT_TRUE(ink(image, 199, 49));
    EXPECT_TRUE(ink(image, 150, 49));
    EXPECT_FALSE(ink(image, 149, 49));

    subhost::undo::undoGroups(1);
    EXPECT_TRUE(hasElement(1));
    EXPECT_EQ(elementCount(), 1u);
    EXPECT_FALSE(ink(onDisk(), 170, 49));
    subhost::undo::redoGroups(1);
    EXPECT_FALSE(hasElement(1));
    EXPECT_TRUE(ink(onDisk(), 170, 49));
}

// Reference elements are drawn and never deleted; raster frames and skipped elements are left alone.
TEST_F(StampRunTest, ReferenceElementsStayAndFramesAndSkippedElementsAreIgnored) {
    const nlohmann::json other = {{"elements", withIds(nlohmann::json::array({line(10, 70.5, 90, 70.5)}))}};
    std::ofstream(dir / "other.json") << other.dump();
    nlohmann::json skipped = line(10, 30.5, 90, 30.5);
    skipped["skipBit"] = true;
    startMono({{{"type", "rasterFrame"}, {"points", {{0, 0}, {200, 0}, {200, 100}, {0, 100}}}}, skipped},
              {{"references", {{{"file", "other.json"}}}}});
    s__globals.StampDelete = 1;
    stamp();
    const img::Image image = onDisk();
    EXPECT_TRUE(ink(image, 50, 100 - 71));
    EXPECT_FALSE(ink(image, 50, 100 - 31));
    EXPECT_FALSE(ink(image, 0, 50));
    EXPECT_EQ(elementCount(), 2u);
}

// A text is drawn as its glyph outlines, in the element's colour on a colour raster.
// Elements the host expands into parts (a dimension, a multi-line) are burnt in as those parts.
TEST_F(StampRunTest, DimensionsAndMultiLinesAreBurntInAsTheirParts) {
    startMono(nlohmann::json::array(
        {{{"type", "dimension"}, {"points", {{20, 30}, {180, 30}}}, {"offset", 20}, {"height", 10}, {"arrow", 6}},
         {{"type", "multiLine"}, {"points", {{20, 80}, {180, 80}}}, {"lines", {{{"offset", -4}}, {{"offset", 4}}}}}}));
    stamp();
    const img::Image image = onDisk();
    EXPECT_EQ(elementCount(), 0u);
    // The dimension line lies 20 above its points, the multi-line's two lines 4 either side of its own.
    EXPECT_TRUE(ink(image, 100, 100 - 50));
    EXPECT_TRUE(ink(image, 100, 100 - 76) || ink(image, 100, 100 - 77));
    EXPECT_TRUE(ink(image, 100, 100 - 84) || ink(image, 100, 100 - 85));
    EXPECT_FALSE(ink(image, 100, 100 - 80));
}

TEST_F(StampRunTest, TextOnAColourRasterTakesTheElementsColour) {
    img::Image rgb = img::makeImage(200, 100, img::ColorMode::Rgb).image;
    std::fill(rgb.pixels.begin(), rgb.pixels.end(), std::uint8_t(255));
    write("scan.tif", rgb);
    start(
        {{{"file", "scan.tif"}}}, false,
        {{"elements", withIds(nlohmann::json::array(
                          {{{"type", "text"}, {"origin", {20, 20}}, {"text", "H"}, {"height", 60}, {"color", 3}}}))}});
    s__globals.StampMode = 5;
    s__globals.DisplayPrompts = 0;
    stamp();
    const img::Image image = onDisk();
    int red = 0;
    for (int row = 0; row < 100; ++row)
        for (int x = 0; x < 200; ++x) {
            const std::uint8_t* p = image.pixels.data() + std::size_t(row) * image.stride + std::size_t(x) * 3;
            red += p[0] == 255 && p[1] == 0 && p[2] == 0;
        }
    EXPECT_GT(red, 200);
}

}  // namespace
