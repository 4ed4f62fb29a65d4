// Clipping elements against the fence: inside, outside and across (also through a concave fence's
// notch), and the pieces of each kind inside and outside, which together cover the element exactly
// (length and area kept) and keep its symbology.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "host/mdlclip.h"
#include "host/mdlelement.h"
#include "subhost/elements.h"
#include "subhost/host.h"

namespace {

using nlohmann::json;
using subhost::elements::Element;

// A square fence 0..10 and a concave (U-shaped) one: a notch from the top down to y 4 between x 4 and 6.
const std::vector<DPoint3d> kSquare = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}};
const std::vector<DPoint3d> kU = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {6, 10, 0},
                                  {6, 4, 0}, {4, 4, 0},  {4, 10, 0},  {0, 10, 0}};

struct ClipDeleter {
    void operator()(ClipDescr* c) const { mdlClip_free(&c); }
};

// Length of the open pieces and area of the closed ones (holes taken off) of a chain, cells included.
struct Measure {
    double length = 0, area = 0;
    int pieces = 0;
};

double polygonArea(const std::vector<DPoint3d>& p) {
    double twice = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const DPoint3d& a = p[i];
        const DPoint3d& b = p[(i + 1) % p.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return std::fabs(twice) / 2;
}

void measureInto(const Element& e, Measure* m) {
    if (e.type == CELL_HEADER_ELM) {
        for (std::size_t i = 0; i < e.components.size(); ++i) {
            const Element& c = e.components[i];
            if (e.groupedHole && i > 0) {
                m->area -= polygonArea(c.points);
                continue;
            }
            measureInto(c, m);
        }
        return;
    }
    ++m->pieces;
    const std::vector<DPoint3d> points = subhost::elements::stroke(e, 0.0);
    if (isClosed(e)) {
        m->area += polygonArea(points);
        return;
    }
    for (std::size_t i = 0; i + 1 < points.size(); ++i)
        m->length += std::hypot(points[i + 1].x - points[i].x, points[i + 1].y - points[i].y);
}

Measure measure(const MSElementDescr* chain) {
    Measure m;
    for (const MSElementDescr* d = chain; d; d = d->next.get()) measureInto(*d, &m);
    return m;
}

Measure measureElement(const Element& e) {
    if (e.type == CELL_HEADER_ELM || subhost::elements::isSimple(e.type)) {
        Measure own;
        measureInto(e, &own);
        return own;
    }
    std::vector<Element> parts;
    subhost::elements::displayGeometry(e, subhost::elements::definitionsOf(nullptr), &parts, nullptr);
    Measure m;
    for (const Element& p : parts) measureInto(p, &m);
    return m;
}

// Calls fn on every simple piece of a chain (inside cells too), and on a grouped-hole cell as a whole.
void eachPiece(const MSElementDescr* chain, const std::function<void(const Element&)>& fn) {
    std::function<void(const Element&)> walk = [&](const Element& e) {
        if (e.type == CELL_HEADER_ELM && !e.groupedHole)
            for (const Element& c : e.components) walk(c);
        else
            fn(e);
    };
    for (const MSElementDescr* d = chain; d; d = d->next.get()) walk(*d);
}

class Clip : public ::testing::Test {
protected:
    void SetUp() override {
        subhost::hostReset();
        std::string error;
        ASSERT_TRUE(subhost::openDesignDocument(json::object(), "", &error)) << error;
    }
    void TearDown() override { subhost::hostReset(); }

    std::unique_ptr<ClipDescr, ClipDeleter> fence(const std::vector<DPoint3d>& polygon) {
        std::string error;
        EXPECT_TRUE(subhost::elements::setFence(polygon, 0, &error)) << error;
        ClipDescr* clip = nullptr;
        EXPECT_EQ(mdlClip_getFence(&clip), SUCCESS);
        return std::unique_ptr<ClipDescr, ClipDeleter>(clip);
    }

    // Cuts element by the fence polygon; checks that the pieces cover it and that every inside piece lies
    // inside the fence and every outside piece outside it. The two sides for further checks.
    struct Cut {
        std::unique_ptr<MSElementDescr> inside, outside;
        Measure in, out;
    };
    // Glyph outlines may overlap each other (their areas then do not add up): checkArea false skips the area.
    Cut cut(const Element& element, const std::vector<DPoint3d>& polygon, bool checkArea = true) {
        auto clip = fence(polygon);
        MSElementDescr e(element);
        MSElementDescr *inside = nullptr, *outside = nullptr;
        EXPECT_EQ(mdlClip_element(&inside, &outside, &e, nullptr, clip.get(), 0), SUCCESS);
        Cut c{std::unique_ptr<MSElementDescr>(inside), std::unique_ptr<MSElementDescr>(outside), measure(inside),
              measure(outside)};
        const Measure whole = measureElement(element);
        const double tolerance = 1e-6 * std::max(1.0, whole.length + whole.area);
        EXPECT_NEAR(c.in.length + c.out.length, whole.length, tolerance) << "the pieces cover the element's length";
        if (checkArea) {
            EXPECT_NEAR(c.in.area + c.out.area, whole.area, tolerance) << "the pieces cover the element's area";
        }
        const auto sideOf = [&](const MSElementDescr* chain, bool wantInside) {
            eachPiece(chain, [&](const Element& piece) {
                // The solid of an area with a hole may reach round the fence: its hole is what keeps it out.
                if (piece.hole || piece.groupedHole) return;
                bool overlap = false;
                MSElementDescr d(piece);
                // A piece whose points lie on the edge shows as inside; outside pieces must not reach in.
                const bool in = mdlClip_isElemInside(&overlap, &d, clip.get(), 0, 0);
                EXPECT_FALSE(overlap) << "a piece crosses the fence";
                if (wantInside) {
                    EXPECT_TRUE(in) << json(subhost::elements::elementJson(piece)).dump();
                }
            });
        };
        sideOf(c.inside.get(), true);
        sideOf(c.outside.get(), false);
        return c;
    }
};

Element lineString(std::vector<DPoint3d> points) {
    Element e;
    e.type = points.size() == 2 ? LINE_ELM : LINE_STRING_ELM;
    e.points = std::move(points);
    e.color = 3, e.weight = 2, e.style = 1, e.level = 7;
    return e;
}

Element shape(std::vector<DPoint3d> points) {
    Element e = lineString(std::move(points));
    e.type = SHAPE_ELM;
    subhost::elements::closeShape(e.points);
    e.filled = true, e.fillColor = 9;
    e.pattern = subhost::elements::Pattern{45, 1, 4, 0};
    return e;
}

Element ellipse(double cx, double cy, double a, double b, int type = ELLIPSE_ELM, double start = 0,
                double sweep = 360) {
    Element e = lineString({});
    e.type = type;
    e.center = {cx, cy, 0};
    e.primary = a, e.secondary = b, e.start = start, e.sweep = sweep;
    return e;
}

// ---- Inside, outside, across ----

TEST_F(Clip, ElementsAreInsideOutsideOrAcrossEvenThroughTheNotchOfAConcaveFence) {
    auto clip = fence(kU);
    const auto where = [&](const Element& e) {
        MSElementDescr d(e);
        bool overlap = true;
        const bool in = mdlClip_isElemInside(&overlap, &d, clip.get(), 0, 0);
        bool overlap2 = false;
        EXPECT_EQ(mdlClip_isElemInside(&overlap2, &d, clip.get(), 0, 1), in || overlap);
        EXPECT_EQ(overlap2, overlap);
        return std::string(overlap ? "across" : in ? "inside" : "outside");
    };
    EXPECT_EQ(where(lineString({{1, 1, 0}, {9, 1, 0}})), "inside");
    EXPECT_EQ(where(lineString({{1, 8, 0}, {9, 8, 0}})), "across") << "both ends inside, the middle in the notch";
    EXPECT_EQ(where(lineString({{1, 4, 0}, {9, 4, 0}})), "inside") << "along the notch's floor: on the edge";
    EXPECT_EQ(where(lineString({{4.5, 5, 0}, {5.5, 9, 0}})), "outside");
    EXPECT_EQ(where(lineString({{20, 20, 0}, {30, 20, 0}})), "outside");
    EXPECT_EQ(where(shape({{-5, -5, 0}, {15, -5, 0}, {15, 15, 0}, {-5, 15, 0}})), "across")
        << "an area round the whole fence covers it";
    EXPECT_EQ(where(ellipse(2, 2, 1, 1)), "inside");
    EXPECT_EQ(where(ellipse(5, 9, 2, 2, ARC_ELM, 180, 180)), "across") << "an arc dipping from the notch";

    ClipDescr* none = nullptr;
    mdlFence_clear(false);
    EXPECT_EQ(mdlClip_getFence(&none), ERROR);
    EXPECT_EQ(none, nullptr);
}

// An element's range settles most cases before its geometry is looked at; it must settle them as the
// geometry would: a range inside the bounds of a turned or star-shaped fence is not inside the fence.
TEST_F(Clip, WhatTheRangeSettlesTheGeometryWouldSettleAlike) {
    const auto where = [this](const std::vector<DPoint3d>& polygon, const Element& e) {
        auto clip = fence(polygon);
        MSElementDescr d(e);
        bool overlap = false;
        const bool in = mdlClip_isElemInside(&overlap, &d, clip.get(), 0, 0);
        return std::string(overlap ? "across" : in ? "inside" : "outside");
    };
    const std::vector<DPoint3d> diamond = {{5, 0, 0}, {10, 5, 0}, {5, 10, 0}, {0, 5, 0}};
    EXPECT_EQ(where(diamond, lineString({{4, 5, 0}, {6, 5, 0}})), "inside");
    EXPECT_EQ(where(diamond, lineString({{1, 1, 0}, {1.5, 1.5, 0}})), "outside") << "in the diamond's bounds only";
    EXPECT_EQ(where(diamond, lineString({{0.2, 3, 0}, {3, 3, 0}})), "across");

    // Clockwise, and closed by repeating the first point.
    const std::vector<DPoint3d> clockwise = {{0, 0, 0}, {0, 10, 0}, {10, 10, 0}, {10, 0, 0}, {0, 0, 0}};
    EXPECT_EQ(where(clockwise, ellipse(5, 5, 2, 1)), "inside");
    EXPECT_EQ(where(clockwise, lineString({{0, 5, 0}, {5, 5, 0}})), "inside") << "from the edge inwards";
    EXPECT_EQ(where(clockwise, lineString({{10.5, 5, 0}, {12, 5, 0}})), "outside");

    // A five-pointed star drawn in one line: its middle is enclosed twice, which is outside.
    std::vector<DPoint3d> star;
    for (int i = 0; i < 5; ++i) {
        const double a = M_PI / 2 + i * 4 * M_PI / 5;
        star.push_back({10 + 10 * std::cos(a), 10 + 10 * std::sin(a), 0});
    }
    EXPECT_EQ(where(star, lineString({{9.5, 10, 0}, {10.5, 10, 0}})), "outside");
    EXPECT_EQ(where(star, lineString({{10, 17, 0}, {10, 18, 0}})), "inside") << "in the top point";

    Element nothing = lineString({});
    nothing.type = LINE_STRING_ELM;
    EXPECT_EQ(where(kSquare, nothing), "outside") << "an element that shows nothing lies nowhere";
}

// ---- Pieces of every kind ----

TEST_F(Clip, OpenElementsAndArcsAreCutIntoOpenPieces) {
    Cut line = cut(lineString({{-5, 5, 0}, {15, 5, 0}}), kSquare);
    EXPECT_NEAR(line.in.length, 10, 1e-9);
    EXPECT_EQ(line.in.pieces, 1);
    EXPECT_EQ(line.out.pieces, 2);
    EXPECT_EQ(line.inside->type, LINE_ELM) << subhost::elements::elementJson(*line.inside).dump();
    EXPECT_EQ(line.inside->color, 3);
    EXPECT_EQ(line.inside->style, 1);
    EXPECT_EQ(line.inside->level, 7);

    // Through the U: in, out across the notch, in again.
    Cut through = cut(lineString({{-1, 8, 0}, {11, 8, 0}, {11, 2, 0}}), kU);
    EXPECT_NEAR(through.in.length, 8, 1e-9);
    EXPECT_EQ(through.in.pieces, 2);

    Cut arc = cut(ellipse(10, 5, 3, 3, ARC_ELM, 0, 180), kSquare);
    EXPECT_GT(arc.in.length, 4.5);
    EXPECT_GT(arc.out.length, 4.5);
    eachPiece(arc.inside.get(), [](const Element& p) { EXPECT_TRUE(p.type == LINE_STRING_ELM || p.type == LINE_ELM); });

    Cut away = cut(lineString({{20, 0, 0}, {30, 0, 0}}), kSquare);
    EXPECT_EQ(away.inside, nullptr) << "an empty side gives nothing";
}

TEST_F(Clip, ClosedElementsAreCutIntoClosedPiecesWithTheirFillAndPattern) {
    Cut half = cut(shape({{5, 2, 0}, {15, 2, 0}, {15, 8, 0}, {5, 8, 0}}), kSquare);
    EXPECT_NEAR(half.in.area, 30, 1e-6);
    EXPECT_NEAR(half.out.area, 30, 1e-6);
    ASSERT_TRUE(half.inside);
    EXPECT_EQ(half.inside->type, SHAPE_ELM);
    EXPECT_TRUE(half.inside->filled);
    EXPECT_EQ(half.inside->fillColor, 9);
    ASSERT_TRUE(half.inside->pattern);
    EXPECT_EQ(half.inside->pattern->color, 4);

    // A band across the U's notch: two inside pieces, and the notch part outside.
    Cut band = cut(shape({{-2, 5, 0}, {12, 5, 0}, {12, 7, 0}, {-2, 7, 0}}), kU);
    EXPECT_NEAR(band.in.area, 16, 1e-6);
    EXPECT_EQ(band.in.pieces, 2);
    EXPECT_NEAR(band.out.area, 12, 1e-6);

    // An area round the whole fence: the outside piece has the fence as its hole.
    Cut round = cut(shape({{-5, -5, 0}, {15, -5, 0}, {15, 15, 0}, {-5, 15, 0}}), kSquare);
    EXPECT_NEAR(round.in.area, 100, 1e-6);
    EXPECT_NEAR(round.out.area, 300, 1e-6);
    ASSERT_TRUE(round.outside);
    EXPECT_EQ(round.outside->type, CELL_HEADER_ELM);
    EXPECT_TRUE(round.outside->groupedHole);
    EXPECT_TRUE(round.outside->components.at(1).hole);

    Cut circle = cut(ellipse(10, 10, 4, 2), kU);
    EXPECT_GT(circle.in.area, 0);
    EXPECT_GT(circle.out.area, 0);
    eachPiece(circle.inside.get(), [](const Element& p) { EXPECT_EQ(p.type, SHAPE_ELM); });
}

TEST_F(Clip, CellsGiveACellOfEachSideWithTheirComponentsCut) {
    Element cell;
    cell.type = CELL_HEADER_ELM;
    cell.name = "PUMP";
    cell.color = 5;
    cell.points = {{0, 0, 0}};
    cell.components = {lineString({{-5, 1, 0}, {5, 1, 0}}), shape({{2, 2, 0}, {4, 2, 0}, {4, 4, 0}, {2, 4, 0}})};
    Cut c = cut(cell, kSquare);
    ASSERT_TRUE(c.inside && c.outside);
    EXPECT_EQ(c.inside->type, CELL_HEADER_ELM);
    EXPECT_EQ(c.inside->name, "PUMP");
    EXPECT_EQ(c.inside->color, 5);
    EXPECT_EQ(c.inside->components.size(), 2u);
    EXPECT_EQ(c.outside->name, "PUMP");
    ASSERT_EQ(c.outside->components.size(), 1u) << "the shape lies wholly inside";
    EXPECT_NEAR(c.out.length, 5, 1e-9);
    EXPECT_EQ(c.inside->next, nullptr) << "one cell a side";

    // A grouped-hole cell: the solid less its hole is cut as one area.
    Element holed;
    holed.type = CELL_HEADER_ELM;
    holed.name = "RING";
    holed.groupedHole = true;
    holed.components = {shape({{-4, 2, 0}, {4, 2, 0}, {4, 8, 0}, {-4, 8, 0}}),
                        shape({{-2, 4, 0}, {2, 4, 0}, {2, 6, 0}, {-2, 6, 0}})};
    holed.components[1].hole = true;
    Cut ring = cut(holed, kSquare);
    EXPECT_NEAR(ring.in.area, 24 - 4, 1e-6);
    EXPECT_NEAR(ring.out.area, 24 - 4, 1e-6);
    ASSERT_TRUE(ring.inside);
    EXPECT_EQ(ring.inside->name, "RING");
}

TEST_F(Clip, OtherKindsAreCutAsWhatTheyShowAs) {
    Element mline = lineString({{-5, 5, 0}, {15, 5, 0}});
    mline.type = MULTILINE_ELM;
    mline.mlines = {{-1, 2, 0, 0}, {1, 6, 0, 0}};
    Element text = lineString({{-2, 4, 0}});
    text.type = TEXT_ELM;
    text.text = "Hi";
    text.height = 3;
    for (const Element& e : {mline, text}) {
        if (measureElement(e).pieces == 0) continue;  // not shown by this build: nothing to cut
        Cut c = cut(e, kSquare, e.type != TEXT_ELM);
        EXPECT_GT(c.in.pieces, 0);
        EXPECT_GT(c.out.pieces, 0);
        eachPiece(c.inside.get(), [](const Element& p) { EXPECT_TRUE(subhost::elements::isSimple(p.type)); });
    }
    // A raster frame is left to the raster services.
    Element frame = shape({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    frame.type = RASTER_FRAME_ELM;
    auto clip = fence(kSquare);
    MSElementDescr d(frame);
    MSElementDescr* in = nullptr;
    EXPECT_EQ(mdlClip_element(&in, nullptr, &d, nullptr, clip.get(), 0), ERROR);
}

}  // namespace
