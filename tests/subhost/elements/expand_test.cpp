// The host's expansions of complex kinds to simple elements: dimensions,
// shared cells (nested ones too), multi-lines, area patterns with holes,
// custom line styles, and modifying a complex element through a transform.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "host/mdlelement.h"
#include "host/mdlexpand.h"
#include "host/mdlgeom.h"
#include "subhost/elements.h"
#include "subhost/expand.h"
#include "subhost/host.h"
#include "subhost/undo.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using subhost::elements::Element;
using subhost::elements::elementState;

constexpr double kPi = 3.14159265358979323846;

double distance(const DPoint3d& a, const DPoint3d& b) { return std::hypot(a.x - b.x, a.y - b.y); }

double pathLength(const std::vector<DPoint3d>& points) {
    double length = 0;
    for (std::size_t i = 1; i < points.size(); ++i) length += distance(points[i - 1], points[i]);
    return length;
}

void expectAt(const DPoint3d& p, double x, double y, const char* what) {
    EXPECT_NEAR(p.x, x, 1e-9) << what;
    EXPECT_NEAR(p.y, y, 1e-9) << what;
}

// Owns a descriptor chain the host handed out.
struct Chain {
    MSElementDescr* head = nullptr;
    ~Chain() { std::unique_ptr<MSElementDescr> owned(head); }
    std::vector<const MSElementDescr*> all() const {
        std::vector<const MSElementDescr*> out;
        for (const MSElementDescr* d = head; d; d = mdlElmdscr_next(d)) out.push_back(d);
        return out;
    }
};

class Expand : public ::testing::Test {
protected:
    void SetUp() override {
        subhost::hostReset();
        dir_ = fs::temp_directory_path() / ("pxm-expand-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        subhost::hostReset();
        fs::remove_all(dir_);
    }

    void open(const json& doc) {
        const std::string file = (dir_ / "design.json").string();
        std::ofstream(file) << doc.dump();
        std::string error;
        ASSERT_TRUE(subhost::openDesign(file, &error)) << error;
    }

    // The model element with id, read as a descriptor (owned by the fixture).
    const MSElementDescr* read(int id) {
        for (const auto& [pos, e] : elementState().elements)
            if (e.id == id) {
                MSElementDescr* d = nullptr;
                mdlElmdscr_readToMaster(&d, pos, nullptr, 0, nullptr);
                read_.emplace_back(d);
                return d;
            }
        return nullptr;
    }

    const Element& shapeOf(int id) {
        for (const auto& [pos, e] : elementState().elements)
            if (e.id == id) return e.shape;
        throw std::runtime_error("no element " + std::to_string(id));
    }

    fs::path dir_;
    std::vector<std::unique_ptr<MSElementDescr>> read_;
};

// ---- Dimensions ----

TEST_F(Expand, DimensionGivesExtensionLinesDimensionLineArrowheadsAndText) {
    open({{"elements",
           {{{"id", 1},
             {"type", "dimension"},
             {"points", {{0, 0}, {10, 0}}},
             {"offset", 3},
             {"height", 1},
             {"arrow", 1.5},
             {"color", 4},
             {"level", 7}},
            {{"id", 2}, {"type", "dimension"}, {"points", {{10, 0}, {0, 0}}}, {"offset", 3}, {"text", "X"}}}}});
    Chain chain;
    ASSERT_EQ(mdlDim_getElementDescr(&chain.head, read(1), nullptr, 0), SUCCESS);
    const auto parts = chain.all();
    ASSERT_EQ(parts.size(), 6u);
    for (const auto* p : parts) {
        EXPECT_EQ(p->color, 4);
        EXPECT_EQ(p->level, 7);
    }
    // Extension lines from the measured points to half an arrowhead beyond the dimension line, on the left.
    ASSERT_EQ(parts[0]->type, LINE_ELM);
    expectAt(parts[0]->points[0], 0, 0, "first extension line");
    expectAt(parts[0]->points[1], 0, 3.75, "first extension line");
    expectAt(parts[1]->points[1], 10, 3.75, "second extension line");
    ASSERT_EQ(parts[2]->type, LINE_ELM);
    expectAt(parts[2]->points[0], 0, 3, "dimension line");
    expectAt(parts[2]->points[1], 10, 3, "dimension line");
    // Filled arrowheads: tips on the extension lines, bases an arrow length inside.
    for (int i : {3, 4}) {
        const auto* head = parts[std::size_t(i)];
        ASSERT_EQ(head->type, SHAPE_ELM);
        EXPECT_TRUE(head->filled);
        const double tipX = i == 3 ? 0 : 10, baseX = i == 3 ? 1.5 : 8.5;
        expectAt(head->points[0], tipX, 3, "arrow tip");
        EXPECT_NEAR(head->points[1].x, baseX, 1e-9);
        EXPECT_NEAR(head->points[2].x, baseX, 1e-9);
        EXPECT_NEAR(std::fabs(head->points[1].y - head->points[2].y), 0.5, 1e-9);
    }
    ASSERT_EQ(parts[5]->type, TEXT_ELM);
    EXPECT_EQ(parts[5]->text, "10.00");
    EXPECT_NEAR(parts[5]->points[0].x, 5, 1e-9);
    EXPECT_GT(parts[5]->points[0].y, 3);
    EXPECT_LT(parts[5]->points[0].y, 3.5);
    EXPECT_NEAR(parts[5]->rotation, 0, 1e-9);
    EXPECT_EQ(parts[5]->justification.horizontal, 1);
    EXPECT_EQ(parts[5]->justification.vertical, 2);
    EXPECT_DOUBLE_EQ(parts[5]->height, 1);

    // Measured right to left: the left side is below, and the text still reads left to right above its line.
    Chain back;
    ASSERT_EQ(mdlDim_getElementDescr(&back.head, read(2), nullptr, 0), SUCCESS);
    const auto other = back.all();
    ASSERT_EQ(other.size(), 6u);
    EXPECT_NEAR(other[2]->points[0].y, -3, 1e-9);
    EXPECT_EQ(other[5]->text, "X");
    EXPECT_NEAR(other[5]->rotation, 0, 1e-9);
    EXPECT_GT(other[5]->points[0].y, -3);

    Chain none;
    EXPECT_EQ(mdlMline_getElementDescr(&none.head, read(1), nullptr, 0), ERROR) << "not a multi-line";
    EXPECT_EQ(none.head, nullptr);
}

// ---- Shared cells ----

json sharedCellDesign() {
    json line = {{"type", "line"}, {"points", {{1, 1}, {3, 1}}}, {"color", 2}};
    json tick = {{"type", "line"}, {"points", {{0, 0}, {1, 0}}}};
    return {
        {"sharedCells",
         {{"tick", {{"components", {tick}}}},
          {"box",
           {{"origin", {1, 1}},
            {"components", {line, {{"type", "sharedCell"}, {"name", "tick"}, {"origin", {3, 1}}}}}}}}},
        {"elements",
         {{{"id", 1}, {"type", "sharedCell"}, {"name", "box"}, {"origin", {10, 10}}, {"scale", 2}, {"rotation", 90}},
          {{"id", 2}, {"type", "line"}, {"points", {{0, 0}, {1, 0}}}}}}};
}

TEST_F(Expand, SharedCellInstanceIsPlacedScaledAndTurnedWithItsNestedInstance) {
    open(sharedCellDesign());
    Chain cell;
    ASSERT_EQ(mdlSharedCell_toNormalCell(&cell.head, read(1), nullptr), SUCCESS);
    ASSERT_EQ(cell.all().size(), 1u);
    EXPECT_EQ(cell.head->type, CELL_HEADER_ELM);
    EXPECT_EQ(cell.head->name, "box");
    expectAt(cell.head->points[0], 10, 10, "cell origin");
    const MSElementDescr* first = mdlElmdscr_firstComponent(cell.head);
    ASSERT_NE(first, nullptr);
    // (1,1)-(3,1): from the base point 2 long in x, doubled, turned to +y, at the origin.
    ASSERT_EQ(first->type, LINE_ELM);
    EXPECT_EQ(first->color, 2);
    expectAt(first->points[0], 10, 10, "line start");
    expectAt(first->points[1], 10, 14, "line end");
    const MSElementDescr* nested = mdlElmdscr_next(first);
    ASSERT_NE(nested, nullptr);
    ASSERT_EQ(nested->type, SHARED_CELL_ELM) << "a nested instance stays an instance";
    expectAt(nested->points[0], 10, 14, "nested origin");
    EXPECT_NEAR(nested->rotation, 90, 1e-9);
    EXPECT_NEAR(nested->scaleX, 2, 1e-9);
    EXPECT_NEAR(nested->scaleY, 2, 1e-9);

    // Displayed, the nested one is expanded in turn: its 1 long line doubled and turned.
    std::vector<Element> shown;
    subhost::elements::displayGeometry(shapeOf(1), elementState().definitions, &shown, nullptr);
    ASSERT_EQ(shown.size(), 2u);
    expectAt(shown[1].points[0], 10, 14, "nested line start");
    expectAt(shown[1].points[1], 10, 16, "nested line end");

    Chain none;
    EXPECT_EQ(mdlSharedCell_toNormalCell(&none.head, read(2), nullptr), ERROR) << "a line is no instance";
    Element unknown = shapeOf(1);
    unknown.name = "missing";
    Element out;
    std::string why;
    EXPECT_FALSE(subhost::elements::sharedCellToCell(unknown, elementState().definitions, &out, &why));
    EXPECT_EQ(why, "no such shared cell");
}

// ---- Multi-lines ----

TEST_F(Expand, MultiLineGivesOneLineAnOffsetWithMitresAndCaps) {
    json lines = {
        {{"offset", -1}, {"color", 1}}, {{"offset", 0}, {"color", 2}, {"style", 2}}, {{"offset", 2}, {"color", 3}}};
    open({{"elements",
           {{{"id", 1},
             {"type", "multiLine"},
             {"points", {{0, 0}, {10, 0}, {10, 10}}},
             {"lines", lines},
             {"startCap", true},
             {"endCap", true},
             {"color", 9}},
            {{"id", 2},
             {"type", "multiLine"},
             {"points", {{0, 0}, {10, 0}, {0, 0.1}}},
             {"lines", {{{"offset", 1}}}}}}}});
    Chain chain;
    ASSERT_EQ(mdlMline_getElementDescr(&chain.head, read(1), nullptr, 0), SUCCESS);
    const auto parts = chain.all();
    ASSERT_EQ(parts.size(), 5u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(parts[std::size_t(i)]->type, LINE_STRING_ELM);
        EXPECT_EQ(parts[std::size_t(i)]->color, i + 1);
        ASSERT_EQ(parts[std::size_t(i)]->points.size(), 3u);
    }
    EXPECT_EQ(parts[1]->style, 2);
    expectAt(parts[0]->points[0], 0, -1, "right line start");
    expectAt(parts[0]->points[1], 11, -1, "right line corner");
    expectAt(parts[0]->points[2], 11, 10, "right line end");
    expectAt(parts[1]->points[1], 10, 0, "centre line corner");
    expectAt(parts[2]->points[0], 0, 2, "left line start");
    expectAt(parts[2]->points[1], 8, 2, "left line corner (mitred)");
    expectAt(parts[2]->points[2], 8, 10, "left line end");
    // Caps across all offsets, square to the first and last segments, in the multi-line's colour.
    ASSERT_EQ(parts[3]->type, LINE_ELM);
    EXPECT_EQ(parts[3]->color, 9);
    expectAt(parts[3]->points[0], 0, -1, "start cap");
    expectAt(parts[3]->points[1], 0, 2, "start cap");
    expectAt(parts[4]->points[0], 11, 10, "end cap");
    expectAt(parts[4]->points[1], 8, 10, "end cap");

    // A path turning almost straight back: its mitre stays near the vertex.
    Chain sharp;
    ASSERT_EQ(mdlMline_getElementDescr(&sharp.head, read(2), nullptr, 0), SUCCESS);
    ASSERT_EQ(sharp.all().size(), 1u) << "no caps asked for";
    EXPECT_LE(distance(sharp.head->points[1], DPoint3d{10, 0, 0}), 4 + 1e-9);
}

// ---- Patterns ----

json with(json element, const json& extra) {
    element.update(extra);
    return element;
}

json square(double x, double y, double side) {
    return {{"type", "shape"}, {"points", {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}}}};
}

TEST_F(Expand, PatternLinesFillTheAreaAndLeaveItsHoleOpen) {
    const json pattern = {{"angle", 30}, {"spacing", 0.25}, {"color", 5}, {"weight", 2}};
    open({{"elements",
           {{{"id", 1},
             {"type", "cell"},
             {"groupedHole", true},
             {"pattern", pattern},
             {"components", {square(0, 0, 10), with(square(3, 3, 4), {{"hole", true}})}}},
            {{"id", 2},
             {"type", "ellipse"},
             {"center", {0, 0}},
             {"axes", {5, 2}},
             {"rotation", 20},
             {"pattern", pattern}},
            {{"id", 3}, {"type", "line"}, {"points", {{0, 0}, {1, 0}}}}}}});
    Chain chain;
    ASSERT_EQ(mdlPattern_getElementDescr(&chain.head, read(1), nullptr, 0, 0), SUCCESS);
    const std::vector<DPoint3d> outer{{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}};
    double total = 0;
    for (const auto* p : chain.all()) {
        ASSERT_EQ(p->type, LINE_ELM);
        EXPECT_EQ(p->color, 5);
        EXPECT_EQ(p->weight, 2);
        total += distance(p->points[0], p->points[1]);
        for (double f = 0; f <= 1.0; f += 0.125) {
            const DPoint3d q{p->points[0].x + (p->points[1].x - p->points[0].x) * f,
                             p->points[0].y + (p->points[1].y - p->points[0].y) * f, 0};
            EXPECT_TRUE(subhost::elements::insidePolygon(outer, q)) << q.x << "," << q.y;
            const bool inHole = q.x > 3 + 1e-9 && q.x < 7 - 1e-9 && q.y > 3 + 1e-9 && q.y < 7 - 1e-9;
            EXPECT_FALSE(inHole) << q.x << "," << q.y;
        }
    }
    // Lines spacing apart cover the area left (100 - 16) with about area / spacing of length.
    EXPECT_NEAR(total, 84 / 0.25, 84 / 0.25 * 0.03);

    Chain ellipse;
    ASSERT_EQ(mdlPattern_getElementDescr(&ellipse.head, read(2), nullptr, 0, 0), SUCCESS);
    const double c = std::cos(20 * kPi / 180), s = std::sin(20 * kPi / 180);
    for (const auto* p : ellipse.all())
        for (const DPoint3d& q : p->points) {
            const double u = q.x * c + q.y * s, v = -q.x * s + q.y * c;
            EXPECT_LE((u / 5) * (u / 5) + (v / 2) * (v / 2), 1 + 1e-6);
        }
    EXPECT_GT(ellipse.all().size(), 10u);

    Chain none;
    EXPECT_EQ(mdlPattern_getElementDescr(&none.head, read(3), nullptr, 0, 0), ERROR) << "a line has no pattern";
    EXPECT_EQ(none.head, nullptr);
}

TEST_F(Expand, HostilePatternSpacingIsWidenedNotHung) {
    Element area;
    area.type = SHAPE_ELM;
    // A zigzag of many teeth spanning the whole height: every line crosses every tooth.
    for (int i = 0; i <= 2000; ++i) area.points.push_back(DPoint3d{double(i), i % 2 ? 1000.0 : 0.0, 0});
    area.points.push_back(DPoint3d{2000, -10, 0});
    area.points.push_back(DPoint3d{0, -10, 0});
    area.pattern = subhost::elements::Pattern{0, 1e-9, 1, 0};
    const auto began = std::chrono::steady_clock::now();
    std::vector<Element> lines;
    EXPECT_TRUE(subhost::elements::patternGeometry(area, &lines));
    EXPECT_LE(lines.size(), 100000u);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
}

// ---- Custom line styles ----

TEST_F(Expand, CustomLineCodesGiveTheirDashesAndWidthsFilledBands) {
    open({{"lineStyles",
           {{{"code", 9}, {"name", "dash"}, {"dashes", {2, 1}}},
            {{"code", 12}, {"name", "band"}, {"dashes", {3, 1}}, {"width", 0.5}},
            {{"code", 13}, {"name", "fine"}, {"dashes", {1e-9, 1e-9}}}}},
          {"elements",
           {{{"id", 1}, {"type", "line"}, {"points", {{0, 0}, {10, 0}}}, {"style", 9}, {"color", 6}, {"weight", 3}},
            {{"id", 2}, {"type", "line"}, {"points", {{0, 0}, {10, 0}}}, {"style", 12}, {"color", 6}},
            {{"id", 3},
             {"type", "arc"},
             {"center", {0, 0}},
             {"axes", {10, 10}},
             {"start", 0},
             {"sweep", 90},
             {"style", 9}},
            {{"id", 4}, {"type", "line"}, {"points", {{0, 0}, {1e6, 0}}}, {"style", 13}},
            {{"id", 5}, {"type", "line"}, {"points", {{0, 0}, {10, 0}}}, {"style", 3}}}}});
    Chain dashes;
    ASSERT_EQ(mdlLineStyle_getElementDescr(&dashes.head, read(1), nullptr, 0), SUCCESS);
    const auto pieces = dashes.all();
    ASSERT_EQ(pieces.size(), 4u);  // 0-2, 3-5, 6-8, 9-10
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i]->type, LINE_STRING_ELM);
        EXPECT_EQ(pieces[i]->style, 0);
        EXPECT_EQ(pieces[i]->color, 6);
        EXPECT_EQ(pieces[i]->weight, 3);
        EXPECT_NEAR(pieces[i]->points.front().x, 3.0 * double(i), 1e-9);
        EXPECT_NEAR(pathLength(pieces[i]->points), i == 3 ? 1 : 2, 1e-9);
    }

    Chain bands;
    ASSERT_EQ(mdlLineStyle_getElementDescr(&bands.head, read(2), nullptr, 0), SUCCESS);
    ASSERT_EQ(bands.all().size(), 3u);  // 0-3, 4-7, 8-10
    for (const auto* b : bands.all()) {
        EXPECT_EQ(b->type, SHAPE_ELM);
        EXPECT_TRUE(b->filled);
        double low = 1e9, high = -1e9, left = 1e9, right = -1e9;
        for (const DPoint3d& p : b->points)
            low = std::min(low, p.y), high = std::max(high, p.y), left = std::min(left, p.x),
            right = std::max(right, p.x);
        EXPECT_NEAR(low, -0.25, 1e-9);
        EXPECT_NEAR(high, 0.25, 1e-9);
        EXPECT_NEAR(right - left, left < 7 ? 3 : 2, 1e-9);
    }

    // Along an arc the dashes are measured along the curve: a quarter of 2 pi 10 holds 5 whole cycles.
    Chain arc;
    ASSERT_EQ(mdlLineStyle_getElementDescr(&arc.head, read(3), nullptr, 0), SUCCESS);
    const auto arcPieces = arc.all();
    ASSERT_EQ(arcPieces.size(), 6u);
    EXPECT_NEAR(pathLength(arcPieces[0]->points), 2, 1e-3);
    for (const DPoint3d& p : arcPieces[2]->points)
        EXPECT_NEAR(std::hypot(p.x, p.y), 10, 0.011);  // within the stroke tolerance

    Chain none;
    EXPECT_EQ(mdlLineStyle_getElementDescr(&none.head, read(4), nullptr, 0), ERROR) << "far too many dashes";
    EXPECT_EQ(mdlLineStyle_getElementDescr(&none.head, read(5), nullptr, 0), ERROR) << "a standard code";
    Element undefined = shapeOf(1);
    undefined.style = 10;
    std::vector<Element> out;
    EXPECT_FALSE(subhost::elements::lineStyleGeometry(undefined, elementState().definitions, &out));
    EXPECT_TRUE(out.empty());
    // Displayed, an element of an undefined code is drawn as it is.
    subhost::elements::displayGeometry(undefined, elementState().definitions, &out, nullptr);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].style, 10);
}

// ---- Modifying complex elements ----

int turnAndMove(MSElement* element) {
    Transform t;
    mdlTMatrix_getIdentity(&t);
    mdlTMatrix_rotateByAngles(&t, &t, 0, 0, kPi / 2);
    mdlTMatrix_scale(&t, &t, 2, 2, 1);
    mdlElement_transform(element, &t);
    const DPoint3d by{100, 0, 0};
    mdlElement_offset(element, &by);
    element->color = 7;
    return 1;
}

TEST_F(Expand, ModifyingACellMovesEveryComponentAndUndoBringsThemBack) {
    const json text = {{"type", "text"}, {"origin", {1, 1}}, {"text", "A"}, {"height", 1}};
    const json line = {{"type", "line"}, {"points", {{1, 0}, {2, 0}}}};
    const json arc = {{"type", "arc"}, {"center", {0, 1}}, {"axes", {1, 1}}, {"start", 0}, {"sweep", 90}};
    const json cell = {
        {"id", 1}, {"type", "cell"}, {"name", "c"}, {"origin", {0, 0}}, {"components", {line, arc, text}}};
    const json lines = json::array({{{"offset", 1}}});
    const json mline = {{"id", 2}, {"type", "multiLine"}, {"points", {{0, 0}, {4, 0}}}, {"lines", lines}};
    const json hatched = with(square(0, 0, 1), {{"id", 3}, {"pattern", {{"angle", 0}, {"spacing", 1}}}});
    open({{"elements", {cell, mline, hatched}}});
    std::map<int, std::uint32_t> at;
    for (const auto& [pos, e] : elementState().elements) at[e.id] = pos;
    const std::uint32_t cellPos = at[1], mlinePos = at[2];
    const Element before = shapeOf(1);

    ASSERT_EQ(mdlModify_elementSingle(nullptr, cellPos, MODIFY_REPLACE, 0, turnAndMove, nullptr, 0), SUCCESS);
    const Element& after = shapeOf(1);
    ASSERT_EQ(after.type, CELL_HEADER_ELM);
    ASSERT_EQ(after.components.size(), 3u);
    EXPECT_EQ(after.color, 7);
    expectAt(after.points[0], 100, 0, "origin");
    expectAt(after.components[0].points[0], 100, 2, "line start");
    expectAt(after.components[0].points[1], 100, 4, "line end");
    expectAt(after.components[1].center, 98, 0, "arc centre");
    EXPECT_NEAR(after.components[1].primary, 2, 1e-9);
    EXPECT_NEAR(after.components[1].rotation, 90, 1e-9);
    expectAt(after.components[2].points[0], 98, 2, "text origin");
    EXPECT_NEAR(after.components[2].height, 2, 1e-9);
    EXPECT_NEAR(after.components[2].rotation, 90, 1e-9);

    // A copy of a multi-line keeps its offset lines, doubled.
    ASSERT_EQ(mdlModify_elementSingle(nullptr, mlinePos, MODIFY_COPY, 0, turnAndMove, nullptr, 0), SUCCESS);
    const Element& copy = shapeOf(4);
    ASSERT_EQ(copy.type, MULTILINE_ELM);
    expectAt(copy.points[1], 100, 8, "copied path end");
    ASSERT_EQ(copy.mlines.size(), 1u);
    EXPECT_NEAR(copy.mlines[0].offset, 2, 1e-9);

    // A patterned shape goes through its record; its pattern turns and widens with it.
    ASSERT_EQ(mdlModify_elementSingle(nullptr, at[3], MODIFY_REPLACE, 0, turnAndMove, nullptr, 0), SUCCESS);
    ASSERT_TRUE(shapeOf(3).pattern.has_value());
    EXPECT_NEAR(shapeOf(3).pattern->angle, 90, 1e-9);
    EXPECT_NEAR(shapeOf(3).pattern->spacing, 2, 1e-9);
    expectAt(shapeOf(3).points[1], 100, 2, "shape corner");

    EXPECT_EQ(subhost::undo::undoGroups(3), 3);
    EXPECT_EQ(elementState().elements.size(), 3u);
    const Element& undone = shapeOf(1);
    ASSERT_EQ(undone.components.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(undone.components[i].points.size(), before.components[i].points.size());
        for (std::size_t k = 0; k < undone.components[i].points.size(); ++k)
            expectAt(undone.components[i].points[k], before.components[i].points[k].x, before.components[i].points[k].y,
                     "undone");
    }
    expectAt(undone.components[1].center, 0, 1, "undone arc centre");
}

TEST_F(Expand, TransformKeepsPatternsAndSharedCellPlacementsInStep) {
    open(sharedCellDesign());
    // A mirror in x then a move: the instance's turn and scale compose with it.
    Element instance = shapeOf(1);
    Transform mirror{};
    mirror.form3d[0][0] = -1;
    mirror.form3d[1][1] = 1;
    mirror.form3d[2][2] = 1;
    mirror.form3d[0][3] = 5;
    subhost::elements::transformShape(instance, mirror);
    Element moved;
    ASSERT_TRUE(subhost::elements::sharedCellToCell(instance, elementState().definitions, &moved, nullptr));
    Element direct;
    ASSERT_TRUE(subhost::elements::sharedCellToCell(shapeOf(1), elementState().definitions, &direct, nullptr));
    subhost::elements::transformShape(direct, mirror);
    expectAt(moved.components[0].points[0], direct.components[0].points[0].x, direct.components[0].points[0].y, "a");
    expectAt(moved.components[0].points[1], direct.components[0].points[1].x, direct.components[0].points[1].y, "b");

    Element area;
    area.type = SHAPE_ELM;
    area.points = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
    area.pattern = subhost::elements::Pattern{0, 1, 1, 0};
    Transform stretch{};
    stretch.form3d[0][0] = 1;
    stretch.form3d[1][1] = 3;  // three times as high: the horizontal lines three times as far apart
    stretch.form3d[2][2] = 1;
    subhost::elements::transformShape(area, stretch);
    EXPECT_NEAR(area.pattern->spacing, 3, 1e-9);
    EXPECT_NEAR(area.pattern->angle, 0, 1e-9);
}

}  // namespace
