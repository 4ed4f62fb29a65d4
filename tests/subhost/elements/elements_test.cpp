// The host's design elements: fence processing, stroking, copy and replace
// through a transform, undoable deletes grouped with pixel edits, design file
// checks, dynamics and the save round trip.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/mdlelement.h"
#include "host/mdlraster.h"
#include "subhost/elements.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"
#include "subhost/raster/raster.h"
#include "subhost/undo.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using subhost::elements::elementState;

// What the test's fence command and modify functions do and saw.
struct Probe {
    std::vector<int> visited;  // ids seen by the content function
    int action = 0;            // 0 visit only, MODIFY_COPY, MODIFY_REPLACE, 3 delete
    DPoint3d anchor{}, dest{};
    double angle = 0, scale = 1;
};
Probe g_probe;

int idAt(std::uint32_t pos) {
    const auto& els = elementState().elements;
    const auto it = els.find(pos);
    return it == els.end() ? -1 : it->second.id;
}

// The placement the add-on gives copied elements: to the anchor, turn, scale, to the destination.
int placeElement(MSElement* element) {
    const DPoint3d back{-g_probe.anchor.x, -g_probe.anchor.y, -g_probe.anchor.z};
    mdlElement_offset(element, &back);
    Transform t;
    mdlTMatrix_getIdentity(&t);
    mdlTMatrix_rotateByAngles(&t, &t, 0, 0, g_probe.angle);
    mdlTMatrix_scale(&t, &t, g_probe.scale, g_probe.scale, 1.0);
    mdlElement_transform(element, &t);
    mdlElement_offset(element, &g_probe.dest);
    return 1;
}

int fenceContent(const DPoint3d*) {
    const std::uint32_t pos = mdlElement_getFilePos(FILEPOS_CURRENT, nullptr);
    g_probe.visited.push_back(idAt(pos));
    if (g_probe.action == MODIFY_COPY || g_probe.action == MODIFY_REPLACE)
        mdlModify_elementSingle(mdlModelRef_getActive(), pos, g_probe.action, 0, placeElement, nullptr, 0);
    if (g_probe.action == 3) mdlElmdscr_undoableDelete(nullptr, pos, 1);
    return 0;
}

void fencePoint(const DPoint3d* point, int) { mdlFence_process(point); }
void noReset() {}

class Elements : public ::testing::Test {
protected:
    void SetUp() override {
        subhost::hostReset();
        g_probe = Probe{};
        dir_ = fs::temp_directory_path() / ("pxm-elements-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        subhost::hostReset();
        fs::remove_all(dir_);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::string writeDesign(const json& doc, const std::string& name = "design.json") {
        std::ofstream(path(name)) << doc.dump();
        return path(name);
    }

    void open(const json& doc) {
        std::string error;
        ASSERT_TRUE(subhost::openDesign(writeDesign(doc), &error)) << error;
    }

    std::string refusal(const json& doc) {
        std::string error;
        EXPECT_FALSE(subhost::openDesign(writeDesign(doc, "bad.json"), &error));
        return error;
    }

    std::uint32_t posOf(int id) {
        for (const auto& [pos, e] : elementState().elements)
            if (e.id == id) return pos;
        return 0;
    }

    const subhost::elements::Shape* shapeOf(int id) {
        const std::uint32_t pos = posOf(id);
        return pos ? &elementState().elements.at(pos).shape : nullptr;
    }

    std::vector<std::string> eventNames(const std::string& prefix) {
        std::vector<std::string> out;
        for (const auto& e : subhost::transcript()) {
            const std::string name = e.value("event", "");
            if (name.rfind(prefix, 0) == 0) out.push_back(name + " " + std::to_string(e.value("id", 0)));
        }
        return out;
    }

    fs::path dir_;
};

json line(int id, double x0, double y0, double x1, double y1) {
    return {{"id", id}, {"type", "line"}, {"points", {{x0, y0}, {x1, y1}}}, {"color", 3}, {"level", 2}};
}

json square(int id, double x, double y, double side) {
    return {{"id", id},
            {"type", "shape"},
            {"points", {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}}},
            {"filled", true}};
}

json arc(int id, double cx, double cy, double r, double start, double sweep) {
    return {{"id", id}, {"type", "arc"}, {"center", {cx, cy}}, {"axes", {r, r}}, {"start", start}, {"sweep", sweep}};
}

json with(json element, const json& extra) {
    element.update(extra);
    return element;
}

// The elements of a dump without their file positions, which a reopened file numbers afresh.
json withoutPositions(json elements) {
    for (auto& e : elements) e.erase("filePos");
    return elements;
}

double distance(const DPoint3d& a, const DPoint3d& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// ---- Fence processing ----

TEST_F(Elements, FenceProcessVisitsExactlyTheElementsWhollyInside) {
    open({{"elements",
           {line(1, 1, 1, 9, 9),
            square(2, 2, 2, 3),
            arc(3, 5, 5, 2, 0, 180),
            line(4, 5, 5, 15, 5),
            {{"id", 5}, {"type", "ellipse"}, {"center", {5, 5}}, {"axes", {6, 1}}},
            line(6, 20, 20, 30, 30),
            line(7, 0, 0, 10, 0)}}});  // 7 lies on the fence edge: inside
    ASSERT_EQ(mdlState_startFenceCommand(fenceContent, nullptr, fencePoint, noReset, 1, 1, 1), SUCCESS);
    subhost::dataPoint({0, 0, 0}, 0);
    EXPECT_TRUE(g_probe.visited.empty()) << "no fence: nothing visited";

    std::string error;
    ASSERT_TRUE(subhost::elements::setFence({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, 2, &error)) << error;
    EXPECT_TRUE(mdlFence_isDefined());
    EXPECT_EQ(mdlFence_getView(), 2);
    subhost::dataPoint({0, 0, 0}, 0);
    EXPECT_EQ(g_probe.visited, (std::vector<int>{1, 2, 3, 7}));
    EXPECT_EQ(mdlElement_getFilePos(FILEPOS_CURRENT, nullptr), 0u) << "no element is processed outside the call";
}

TEST_F(Elements, FenceProcessDoesNotVisitCopiesItMakesAndEndsWithItsCommand) {
    open({{"elements", {square(1, 1, 1, 2), square(2, 5, 5, 2)}}});
    mdlState_startFenceCommand(fenceContent, nullptr, fencePoint, noReset, 1, 1, 1);
    subhost::elements::setFence({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, 0, nullptr);
    g_probe.action = MODIFY_COPY;  // copies land inside the fence again
    subhost::dataPoint({0, 0, 0}, 0);
    EXPECT_EQ(g_probe.visited, (std::vector<int>{1, 2}));
    EXPECT_EQ(elementState().elements.size(), 4u);

    mdlState_startDefaultCommand();
    EXPECT_EQ(mdlFence_process(nullptr), ERROR) << "the content function belongs to the ended command";
}

TEST_F(Elements, FenceFromShapeAndBackStrokesAsTheClosedShape) {
    open(json::object());
    auto shape = std::make_unique<MSElement>();
    const DPoint3d corners[] = {{0, 0, 0}, {4, 0, 0}, {4, 3, 0}};
    ASSERT_EQ(mdlShape_create(shape.get(), nullptr, corners, 3, 0), SUCCESS);
    EXPECT_EQ(shape->numPoints, 4);
    ASSERT_EQ(mdlFence_fromShape(shape.get()), SUCCESS);
    MSElementDescr* descriptor = nullptr;
    ASSERT_EQ(mdlFence_toElement(&descriptor), SUCCESS);
    DPoint3d* points = nullptr;
    int count = 0;
    ASSERT_EQ(mdlElmdscr_stroke(&points, &count, descriptor, 1.0), SUCCESS);
    ASSERT_EQ(count, 4);  // the vertices, closed
    for (int i = 0; i < 4; ++i) EXPECT_EQ(distance(points[i], corners[i % 3]), 0.0) << i;
    dlmSystem_mdlFree(points);
    mdlElmdscr_freeAll(&descriptor);
    mdlFence_clear(true);
    EXPECT_FALSE(mdlFence_isDefined());
    EXPECT_EQ(mdlFence_toElement(&descriptor), ERROR);
}

// ---- Stroking ----

TEST_F(Elements, StrokeOfAnArcStaysWithinTheTolerance) {
    auto element = std::make_unique<MSElement>();
    *element = MSElement{};
    element->type = ARC_ELM;
    element->center = {10, 20, 0};
    element->primary = element->secondary = 100;
    element->start = 30;
    element->sweep = 90;
    MSElementDescr* descriptor = nullptr;
    ASSERT_EQ(mdlElmdscr_new(&descriptor, nullptr, element.get()), SUCCESS);
    for (double tolerance : {1.0, 0.01}) {
        DPoint3d* points = nullptr;
        int count = 0;
        ASSERT_EQ(mdlElmdscr_stroke(&points, &count, descriptor, tolerance), SUCCESS);
        ASSERT_GE(count, 3);
        const double d2r = 3.14159265358979323846 / 180;
        EXPECT_NEAR(points[0].x, 10 + 100 * std::cos(30 * d2r), 1e-9);
        EXPECT_NEAR(points[count - 1].y, 20 + 100 * std::sin(120 * d2r), 1e-9);
        for (int i = 0; i < count; ++i) EXPECT_NEAR(distance(points[i], element->center), 100, 1e-9);
        for (int i = 0; i + 1 < count; ++i) {
            const DPoint3d mid{(points[i].x + points[i + 1].x) / 2, (points[i].y + points[i + 1].y) / 2, 0};
            EXPECT_LE(100 - distance(mid, element->center), tolerance + 1e-9);
        }
        dlmSystem_mdlFree(points);
    }
    mdlElmdscr_freeAll(&descriptor);
}

// ---- Copy and replace ----

TEST_F(Elements, CopyPlacesANewElementAndReplaceChangesTheOriginal) {
    open({{"elements", {line(1, 10, 10, 20, 10), arc(2, 10, 10, 5, 0, 90)}}});
    g_probe.anchor = {10, 10, 0};
    g_probe.dest = {100, 100, 0};
    g_probe.angle = 3.14159265358979323846 / 2;
    g_probe.scale = 2;

    ASSERT_EQ(mdlModify_elementSingle(nullptr, posOf(1), MODIFY_COPY, 0, placeElement, nullptr, 0), SUCCESS);
    ASSERT_EQ(elementState().elements.size(), 3u);
    const auto& copy = elementState().elements.rbegin()->second;
    EXPECT_EQ(copy.id, 3);
    EXPECT_NEAR(copy.shape.points[0].x, 100, 1e-9);
    EXPECT_NEAR(copy.shape.points[1].x, 100, 1e-9);
    EXPECT_NEAR(copy.shape.points[1].y, 120, 1e-9);  // 10 long, doubled, turned to +y
    EXPECT_EQ(copy.shape.color, 3);
    EXPECT_EQ(shapeOf(1)->points[1].x, 20.0) << "the original stays";

    ASSERT_EQ(mdlModify_elementSingle(nullptr, posOf(2), MODIFY_REPLACE, 0, placeElement, nullptr, 0), SUCCESS);
    const auto* turned = shapeOf(2);
    EXPECT_NEAR(turned->center.x, 100, 1e-9);
    EXPECT_NEAR(turned->primary, 10, 1e-9);
    EXPECT_NEAR(turned->rotation, 90, 1e-9);
    EXPECT_EQ(eventNames("element"), (std::vector<std::string>{"elementAdded 3", "elementChanged 2"}));

    EXPECT_EQ(subhost::undo::undoGroups(2), 2);
    EXPECT_EQ(elementState().elements.size(), 2u);
    EXPECT_EQ(shapeOf(2)->center.x, 10.0);
}

TEST_F(Elements, NothingChangesInAReadOnlyModelOrForAMissingElement) {
    open({{"readOnly", true}, {"elements", {line(1, 0, 0, 1, 1)}}});
    EXPECT_EQ(mdlModify_elementSingle(nullptr, posOf(1), MODIFY_REPLACE, 0, placeElement, nullptr, 0), ERROR);
    EXPECT_EQ(mdlElmdscr_undoableDelete(nullptr, posOf(1), 1), ERROR);
    open({{"elements", {line(1, 0, 0, 1, 1)}}});
    EXPECT_EQ(mdlElmdscr_undoableDelete(nullptr, 999, 1), ERROR);
    EXPECT_EQ(elementState().elements.size(), 1u);
}

// ---- Undo with pixel edits ----

TEST_F(Elements, UndoTakesBackADeleteWithThePixelEditOfItsGroup) {
    namespace img = subhost::imagefile;
    img::Image image = img::makeImage(4, 4, img::ColorMode::Grey8).image;
    std::fill(image.pixels.begin(), image.pixels.end(), 200);
    ASSERT_EQ(img::createImageFile(path("g.png"), img::FileFormat::Png, image).status, 0);
    open({{"elements", {line(1, 0, 0, 1, 1), line(2, 2, 2, 3, 3)}}, {"rasters", {{{"file", "g.png"}}}}});
    ASSERT_EQ(subhost::raster::rasterState().rasters.size(), 1u);
    DgnRasterP raster = subhost::raster::rasterState().rasters[0].get();

    PixelFormat format{};
    format.colorMode = IMAGECOLOR_GreyScale;
    const PixelBlock block{0, 0, 2, 2, 1};
    const BitmapSize size{2, 2};
    const std::uint8_t black[4] = {0, 0, 0, 0};
    mdlUndo_startGroup();
    ASSERT_EQ(mdlRaster_bitmapSet(black, 4, &format, &block, &size, raster, RASTER_OPTION_UNDOABLE), SUCCESS);
    ASSERT_EQ(mdlElmdscr_undoableDelete(nullptr, posOf(1), 1), SUCCESS);
    mdlUndo_endGroup();
    EXPECT_EQ(posOf(1), 0u);

    mdlUndo_undoActions(1);
    EXPECT_NE(posOf(1), 0u) << "the element is back";
    std::uint8_t read[4] = {};
    ASSERT_EQ(mdlRaster_bitmapGet(read, 4, &format, &block, &size, raster), SUCCESS);
    EXPECT_EQ(read[0], 200) << "and so are the pixels";

    EXPECT_EQ(subhost::undo::redoGroups(1), 1);
    EXPECT_EQ(posOf(1), 0u);
    ASSERT_EQ(mdlRaster_bitmapGet(read, 4, &format, &block, &size, raster), SUCCESS);
    EXPECT_EQ(read[0], 0);
}

// ---- Design file checks ----

TEST_F(Elements, BadElementsAreRefusedWithTheFileAndTheProblem) {
    open({{"elements", {line(1, 0, 0, 1, 1)}}});
    struct Case {
        json elements;
        const char* problem;
    };
    json manyPoints = line(1, 0, 0, 1, 1);
    manyPoints["type"] = "lineString";
    manyPoints["points"] = json::array();
    for (int i = 0; i < 5001; ++i) manyPoints["points"].push_back({i, 0});
    const Case cases[] = {
        {json::object(), "\"elements\" must be a list"},
        {{line(1, 0, 0, 1, 1), line(1, 0, 0, 2, 2)}, "element 1: id 1 used twice"},
        {{{{"id", 1}, {"type", "circle"}}}, "element 0: unknown type \"circle\""},
        {{{{"id", "1"}, {"type", "line"}}}, "element 0: \"id\""},
        {{{{"id", 1}, {"type", "line"}, {"points", {{0, 0}}}}}, "element 0: a line has 2 points"},
        {{{{"id", 1}, {"type", "shape"}, {"points", {{0, 0}, {1, "x"}, {2, 2}}}}}, "element 0: point 1"},
        {{with(line(1, 0, 0, 1, 1), {{"color", 256}})}, "element 0: \"color\" must be a whole number 0-255"},
        {{with(line(1, 0, 0, 1, 1), {{"weight", 32}})}, "\"weight\""},
        {{with(line(1, 0, 0, 1, 1), {{"style", -1}})}, "\"style\""},
        {{with(square(1, 0, 0, 1), {{"filled", 1}})}, "\"filled\" must be true or false"},
        {{arc(1, 0, 0, 0, 0, 90)}, "\"axes\" must be two positive numbers"},
        {{arc(1, 0, 0, 1, 0, 720)}, "\"sweep\""},
        {{manyPoints}, "too many points (5001, at most 5000)"},
    };
    for (const Case& c : cases) {
        const std::string error = refusal({{"elements", c.elements}});
        EXPECT_NE(error.find("bad.json"), std::string::npos) << error;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
    }
    EXPECT_NE(refusal({{"fence", {{"points", {{0, 0}, {1, 1}}}}}}).find("\"fence\""), std::string::npos);
    EXPECT_NE(refusal({{"selection", {1, "two"}}}).find("\"selection\""), std::string::npos);
    EXPECT_EQ(elementState().elements.size(), 1u) << "the open design is untouched";
}

TEST_F(Elements, MoreThanTheMostElementsIsRefused) {
    json list = json::array();
    for (std::size_t i = 0; i <= subhost::elements::kMaxElements; ++i)
        list.push_back({{"id", i + 1}, {"type", "line"}});
    EXPECT_NE(refusal({{"elements", list}}).find("too many elements (100001"), std::string::npos);
}

// ---- Display, dynamics and transients ----

void cursorOutline(const DPoint3d* p, int, int drawMode) {
    auto shape = std::make_unique<MSElement>();
    const DPoint3d corners[] = {{p->x, p->y, 0}, {p->x + 1, p->y, 0}, {p->x + 1, p->y + 1, 0}};
    mdlShape_create(shape.get(), nullptr, corners, 3, 0);
    mdlElement_display(shape.get(), drawMode);
}

TEST_F(Elements, DynamicsDumpShowsWhatTheLastCursorMoveDrew) {
    mdlState_startPrimitive(fencePoint, noReset, 1, 1);
    StateCallback::SetComplexDynamicsFunction(cursorOutline);
    subhost::cursorMove({1, 1, 0}, 0);
    subhost::cursorMove({5, 7, 0}, 0);
    const json dump = subhost::elements::dumpDynamics();
    ASSERT_EQ(dump["elements"].size(), 1u);
    EXPECT_EQ(dump["elements"][0]["points"][0], json({5.0, 7.0, 0.0}));
    EXPECT_EQ(dump["elements"][0]["type"], "shape");
}

TEST_F(Elements, TransientsAreAddedErasedAndFreedAsEvents) {
    auto shape = std::make_unique<MSElement>();
    const DPoint3d corners[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    mdlShape_create(shape.get(), nullptr, corners, 3, 0);
    TransDescr* t = mdlTransient_addElement(nullptr, shape.get(), 0xFF, DRAW_MODE_TempDraw);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(mdlTransient_addElement(t, shape.get(), 0xFF, DRAW_MODE_TempDraw), t);
    mdlTransient_eraseDisplay(t);
    mdlTransient_eraseDisplay(t);  // erased once only
    mdlTransient_free(&t);
    EXPECT_EQ(t, nullptr);
    std::vector<std::string> actions;
    for (const auto& e : subhost::transcript())
        if (e.value("event", "") == "transient") actions.push_back(e.value("action", ""));
    EXPECT_EQ(actions, (std::vector<std::string>{"added", "added", "erased", "freed"}));
}

// ---- Save ----

TEST_F(Elements, SaveWritesTheElementsAsTheyAreNowAndReadsBackTheSame) {
    open({{"name", "site.dgn"},
          {"elements", {line(1, 0, 0, 1, 1), square(2, 2, 2, 3), arc(3, 5, 5, 2, 10, 80)}},
          {"selection", {2}}});
    EXPECT_TRUE(mdlSelect_isActive());
    g_probe.dest = {50, 0, 0};
    mdlModify_elementSingle(nullptr, posOf(2), MODIFY_COPY, 0, placeElement, nullptr, 0);
    mdlElmdscr_undoableDelete(nullptr, posOf(1), 1);
    subhost::elements::setFence({{0, 0, 0}, {9, 0, 0}, {9, 9, 0}}, 1, nullptr);
    const json before = withoutPositions(subhost::elements::dumpElements()["elements"]);

    std::string error;
    ASSERT_TRUE(subhost::saveDesign(&error)) << error;
    subhost::closeDesign();
    EXPECT_TRUE(elementState().elements.empty());
    open(json::parse(std::ifstream(path("design.json"))));
    EXPECT_EQ(withoutPositions(subhost::elements::dumpElements()["elements"]), before);
    EXPECT_TRUE(mdlFence_isDefined());
    EXPECT_EQ(mdlFence_getView(), 1);
    EXPECT_TRUE(mdlSelect_isActive());
}

TEST_F(Elements, SessionDefinesTheFenceDumpsElementsAndSavesElsewhere) {
    writeDesign({{"elements", {line(1, 0, 0, 1, 1)}}});
    std::ofstream(path("s.txt")) << "design design.json\nfence 0 0 10 0 10 10 view 3\ndump elements\n"
                                    "save copy.json\nfence clear\n";
    std::ostringstream out, err;
    subhost::SessionOptions options;
    ASSERT_EQ(subhost::runSession(path("s.txt"), options, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("\"event\":\"elements\""), std::string::npos);
    const json copy = json::parse(std::ifstream(path("copy.json")));
    EXPECT_EQ(copy["fence"]["view"], 3);
    EXPECT_EQ(copy["elements"].size(), 1u);
    EXPECT_FALSE(json::parse(std::ifstream(path("design.json"))).contains("fence")) << "the design's own file stays";

    std::ofstream(path("bad.txt")) << "fence 0 0 1 1\n";
    EXPECT_EQ(subhost::runSession(path("bad.txt"), options, out, err), 2);
}

}  // namespace
