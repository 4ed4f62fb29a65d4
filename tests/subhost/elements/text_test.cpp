// Text dropped to glyph outlines: contours and holes, size and placement by
// justification, rotation and width factor, text node lines, the font
// fallback, UTF-8 decoding, and the drop through element handles.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "host/mdlexpand.h"
#include "subhost/elements.h"
#include "subhost/expand.h"

namespace {

using subhost::elements::Element;
using subhost::elements::textGeometry;

struct Box {
    double minX = std::numeric_limits<double>::max(), minY = minX;
    double maxX = -minX, maxY = -minX;
    double width() const { return maxX - minX; }
    double height() const { return maxY - minY; }
};

Box boxOf(const std::vector<Element>& shapes) {
    Box b;
    for (const Element& s : shapes)
        for (const DPoint3d& p : s.points) {
            b.minX = std::min(b.minX, p.x), b.maxX = std::max(b.maxX, p.x);
            b.minY = std::min(b.minY, p.y), b.maxY = std::max(b.maxY, p.y);
        }
    return b;
}

// A text element of height 10 at the origin, justified horizontal h (0 left .. 2 right), vertical v (0 top .. 2
// bottom).
Element text(const std::string& s, int h = 0, int v = 2) {
    Element e;
    e.type = TEXT_ELM;
    e.points = {DPoint3d{0, 0, 0}};
    e.text = s;
    e.height = 10;
    e.justification = {h, v};
    e.color = 5, e.weight = 2, e.level = 7;
    return e;
}

// The glyph contours of e, glyphs with holes (grouped-hole cells) opened into their contours.
std::vector<Element> outlines(const Element& e, std::string* note = nullptr) {
    std::vector<Element> drawn, out;
    std::string why;
    EXPECT_TRUE(textGeometry(e, &drawn, &why)) << why;
    if (note) *note = why;
    for (Element& d : drawn) {
        if (d.type != CELL_HEADER_ELM) out.push_back(std::move(d));
        for (Element& c : d.components) out.push_back(std::move(c));
    }
    return out;
}

long holes(const std::vector<Element>& shapes) {
    return std::count_if(shapes.begin(), shapes.end(), [](const Element& s) { return s.hole; });
}

constexpr double kTol = 0.05;

TEST(TextOutlines, GlyphContoursAreClosedShapesWithHoles) {
    // A glyph with a hole comes as one grouped-hole cell, its solid first, so that a fill leaves the hole open.
    std::vector<Element> drawn;
    ASSERT_TRUE(textGeometry(text("A"), &drawn, nullptr));
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].type, CELL_HEADER_ELM);
    EXPECT_TRUE(drawn[0].groupedHole);
    ASSERT_EQ(drawn[0].components.size(), 2u);
    EXPECT_FALSE(drawn[0].components[0].hole);
    drawn.clear();
    ASSERT_TRUE(textGeometry(text("i"), &drawn, nullptr));
    EXPECT_EQ(drawn.size(), 2u) << "a glyph of two solids and no hole is two filled shapes";

    const auto a = outlines(text("A"));
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(holes(a), 1);
    for (const Element& s : a) {
        EXPECT_EQ(s.type, SHAPE_ELM);
        EXPECT_EQ(s.color, 5);
        EXPECT_EQ(s.weight, 2);
        EXPECT_EQ(s.level, 7);
        EXPECT_EQ(s.filled, !s.hole);
        if (!s.hole) {
            EXPECT_EQ(s.fillColor, 5);
        }
        ASSERT_GE(s.points.size(), 4u);
        EXPECT_EQ(s.points.front().x, s.points.back().x);
        EXPECT_EQ(s.points.front().y, s.points.back().y);
    }
    // The hole lies inside the outer contour.
    const Element& outer = a[0].hole ? a[1] : a[0];
    const Element& hole = a[0].hole ? a[0] : a[1];
    for (const DPoint3d& p : hole.points) EXPECT_TRUE(subhost::elements::insidePolygon(outer.points, p));

    const auto o = outlines(text("O"));
    EXPECT_EQ(o.size(), 2u);
    EXPECT_EQ(holes(o), 1);
    EXPECT_EQ(outlines(text("I")).size(), 1u);
    // Spaces add advance only.
    EXPECT_TRUE(outlines(text("   ")).empty());
    const Box one = boxOf(outlines(text("I"))), spaced = boxOf(outlines(text(" I")));
    EXPECT_GT(spaced.minX, one.minX + 1);
    EXPECT_NEAR(spaced.width(), one.width(), 1e-9);
}

TEST(TextOutlines, CapHeightAndLeftBottomOrigin) {
    const Box b = boxOf(outlines(text("I")));
    EXPECT_NEAR(b.height(), 10, kTol);
    EXPECT_NEAR(b.minY, 0, kTol);
    // The line's advance starts at the origin: the glyph begins after its small left side bearing.
    EXPECT_GT(b.minX, 0);
    EXPECT_LT(b.minX, 2.5);
    EXPECT_NEAR(boxOf(outlines(text("H"))).height(), 10, kTol);
}

TEST(TextOutlines, JustificationAndRotationPlaceTheLine) {
    const Box left = boxOf(outlines(text("I", 0, 2)));
    // "I" sits in the middle of its advance: centred text is centred on the origin.
    const Box centre = boxOf(outlines(text("I", 1, 1)));
    EXPECT_NEAR((centre.minX + centre.maxX) / 2, 0, kTol);
    EXPECT_NEAR((centre.minY + centre.maxY) / 2, 0, kTol);
    const Box right = boxOf(outlines(text("I", 2, 0)));
    EXPECT_NEAR(right.maxX, -left.minX, kTol);
    EXPECT_NEAR(right.maxY, 0, kTol);
    EXPECT_NEAR(right.minY, -10, kTol);
    // Turned 90 degrees about the origin: (x, y) goes to (-y, x).
    Element turned = text("I");
    turned.rotation = 90;
    const Box t = boxOf(outlines(turned));
    EXPECT_NEAR(t.minX, -left.maxY, kTol);
    EXPECT_NEAR(t.maxX, -left.minY, kTol);
    EXPECT_NEAR(t.minY, left.minX, kTol);
    EXPECT_NEAR(t.maxY, left.maxX, kTol);
    // Moved with the origin.
    Element moved = text("I");
    moved.points[0] = {100, -50, 3};
    const auto m = outlines(moved);
    ASSERT_FALSE(m.empty());
    EXPECT_NEAR(boxOf(m).minX, left.minX + 100, kTol);
    EXPECT_NEAR(boxOf(m).minY, -50, kTol);
    EXPECT_EQ(m[0].points[0].z, 3);
}

TEST(TextOutlines, WidthFactorStretchesOnlyTheWidth) {
    Element wide = text("H");
    wide.widthFactor = 2;
    const Box normal = boxOf(outlines(text("H"))), stretched = boxOf(outlines(wide));
    EXPECT_NEAR(stretched.width(), 2 * normal.width(), kTol);
    EXPECT_NEAR(stretched.minX, 2 * normal.minX, kTol);
    EXPECT_NEAR(stretched.height(), normal.height(), kTol);
}

TEST(TextOutlines, KerningPullsPairsTogether) {
    const double advanceA = boxOf(outlines(text("A", 0))).minX - boxOf(outlines(text("A", 2))).minX;
    const Box v = boxOf(outlines(text("V")));
    auto av = outlines(text("AV"));
    ASSERT_EQ(av.size(), 3u);
    av.erase(av.begin(), av.begin() + 2);  // the contours of "A"
    EXPECT_LT(boxOf(av).minX, advanceA + v.minX - 0.1);
}

TEST(TextOutlines, TextNodeLinesLieBelowEachOther) {
    nlohmann::json j = {{"id", 1},      {"type", "textNode"}, {"origin", {0, 0}}, {"lines", {"I", "I"}},
                        {"height", 10}, {"lineSpacing", 5}};
    Element node;
    ASSERT_EQ(subhost::elements::readElement(j, {}, 0, &node), "");
    const auto shapes = outlines(node);
    ASSERT_EQ(shapes.size(), 2u);
    const Box first = boxOf({shapes[0]}), second = boxOf({shapes[1]});
    EXPECT_NEAR(first.minY - second.minY, 15, kTol);
    EXPECT_NEAR(first.minX, second.minX, kTol);
}

TEST(TextOutlines, UnknownFontFallsBackWithANote) {
    std::string note;
    Element e = text("AO");
    const auto plain = outlines(e, &note);
    EXPECT_EQ(note, "");
    e.font = "dejavu sans";
    outlines(e, &note);
    EXPECT_EQ(note, "");
    e.font = "No Such Family 42";
    const auto fallback = outlines(e, &note);
    EXPECT_EQ(note, "font \"No Such Family 42\" not found: drawn in DejaVu Sans");
    ASSERT_EQ(fallback.size(), plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i) EXPECT_EQ(fallback[i].points.size(), plain[i].points.size());
    e.font = std::string("DejaVu Sans\0x", 13);
    outlines(e, &note);
    EXPECT_NE(note, "");
}

TEST(TextOutlines, Utf8DecodedAndBadBytesReplaced) {
    // "Ä" is one glyph: the contours of "A" and two dots.
    EXPECT_EQ(outlines(text("\xC3\x84")).size(), outlines(text("A")).size() + 2);
    const std::size_t replacement = outlines(text("\xEF\xBF\xBD")).size();
    ASSERT_GT(replacement, 0u);
    EXPECT_EQ(outlines(text("\xFF")).size(), replacement);
    EXPECT_EQ(outlines(text("\xC0\xAF")).size(), 2 * replacement);  // overlong: two bad bytes
    EXPECT_EQ(outlines(text("\xED\xA0\x80")).size(), 3 * replacement);
    EXPECT_EQ(outlines(text("A\xE2\x82")).size(), outlines(text("A")).size() + 2 * replacement);  // cut short
    EXPECT_TRUE(outlines(text("")).empty());
    outlines(text(std::string("\0\0", 2)));
}

TEST(TextOutlines, UnusableTextRefusedWithANote) {
    Element e = text("A");
    e.height = 0;
    std::vector<Element> out;
    std::string note;
    EXPECT_FALSE(textGeometry(e, &out, &note));
    EXPECT_NE(note, "");
    e.height = 1e308;
    e.widthFactor = 1e10;
    EXPECT_FALSE(textGeometry(e, &out, &note));
    e = text("A");
    e.points.clear();
    EXPECT_FALSE(textGeometry(e, &out, &note));
    EXPECT_TRUE(out.empty());
    // Tiny, far turned and far placed texts are still drawn.
    e = text("A");
    e.height = 1e-6;
    e.rotation = 1e6;
    e.points[0] = {1e9, -1e9, 0};
    EXPECT_TRUE(textGeometry(e, &out, &note)) << note;
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].components.size(), 2u) << "the A and its hole";
}

TEST(TextOutlines, LongestTextAndManyTextsExpand) {
    const auto longest = outlines(text(std::string(65535, 'A')));
    EXPECT_EQ(longest.size(), 2u * 65535);
    EXPECT_NEAR(boxOf(longest).height(), 10, kTol);
    // Shade blocks are made of many small squares: a longest text of them would take gigabytes as shapes.
    std::string shades;
    while (shades.size() < 65533) shades += "\xE2\x96\x92";
    std::vector<Element> out;
    std::string why;
    EXPECT_FALSE(textGeometry(text(shades), &out, &why));
    EXPECT_EQ(why, "a text too intricate to draw: its glyph outlines would take more than 256 MiB");
    EXPECT_TRUE(out.empty());
    for (int i = 0; i < 5000; ++i) {
        Element e = text("Label " + std::to_string(i));
        e.points[0] = {double(i), double(i % 100), 0};
        std::string note;
        ASSERT_TRUE(textGeometry(e, &out, &note));
    }
}

// ---- Drop through the element handles ----

std::unique_ptr<MSElementDescr> descriptorOf(const Element& e) { return std::make_unique<MSElementDescr>(e); }

TEST(TextDrop, DropsTextToOwnedGlyphShapes) {
    const auto d = descriptorOf(text("AO"));
    const ElementHandle handle(d.get(), nullptr);
    EXPECT_EQ(handle.GetHandler().m_type, TEXT_ELM);
    DisplayHandler* display = handle.GetHandler().GetDisplayHandler();
    ASSERT_NE(display, nullptr);
    ElementAgenda agenda;
    DropGeometry geometry;
    geometry.SetOptions(DropGeometry::DROP_OPTION_Text);
    ASSERT_EQ(display->Drop(handle, agenda, geometry), SUCCESS);
    // "A" and "O" each have a hole: one grouped-hole cell a glyph, its contours as components.
    const auto expected = outlines(text("AO"));
    ASSERT_EQ(agenda.GetCount(), 2u);
    std::size_t next = 0;
    for (std::size_t i = 0; i < agenda.GetCount(); ++i) {
        const ElementHandle& h = agenda.GetFirstP()[i];
        ASSERT_NE(h.GetElementDescrCP(), nullptr);
        EXPECT_EQ(h.GetHandler().m_type, CELL_HEADER_ELM);
        EXPECT_TRUE(mdlElmdscr_isGroupedHole(h.GetElementDescrCP()));
        for (const MSElementDescr* c = mdlElmdscr_firstComponent(h.GetElementDescrCP()); c; c = mdlElmdscr_next(c)) {
            ASSERT_LT(next, expected.size());
            EXPECT_EQ(c->hole, expected[next].hole);
            ASSERT_EQ(c->points.size(), expected[next].points.size());
            EXPECT_EQ(c->points[1].x, expected[next].points[1].x);
            ++next;
        }
    }
    EXPECT_EQ(next, expected.size());
}

TEST(TextDrop, OnlyTextWithTheTextOptionDrops) {
    ElementAgenda agenda;
    DropGeometry text;
    text.SetOptions(DropGeometry::DROP_OPTION_Text);
    const auto t = descriptorOf(::text("A"));
    const ElementHandle textHandle(t.get(), nullptr);
    EXPECT_EQ(textHandle.GetHandler().GetDisplayHandler()->Drop(textHandle, agenda, DropGeometry()), ERROR);
    Element line;
    line.type = LINE_ELM;
    line.points = {{0, 0, 0}, {1, 1, 0}};
    const auto l = descriptorOf(line);
    const ElementHandle lineHandle(l.get(), nullptr);
    ASSERT_NE(lineHandle.GetHandler().GetDisplayHandler(), nullptr);
    EXPECT_EQ(lineHandle.GetHandler().GetDisplayHandler()->Drop(lineHandle, agenda, text), ERROR);
    EXPECT_EQ(agenda.GetCount(), 0u);
    Handler unknown;
    unknown.m_type = 99;
    EXPECT_EQ(unknown.GetDisplayHandler(), nullptr);
    // A text node drops its lines.
    nlohmann::json j = {{"id", 1}, {"type", "textNode"}, {"origin", {0, 0}}, {"lines", {"I", "O"}}, {"height", 2}};
    Element node;
    ASSERT_EQ(subhost::elements::readElement(j, {}, 0, &node), "");
    const auto n = descriptorOf(node);
    const ElementHandle nodeHandle(n.get(), nullptr);
    EXPECT_EQ(nodeHandle.GetHandler().GetDisplayHandler()->Drop(nodeHandle, agenda, text), SUCCESS);
    EXPECT_EQ(agenda.GetCount(), 2u) << "the I, and the O with its hole as one";
}

TEST(TextDrop, HandlesOwnAndMoveTheirDescriptors) {
    auto chain = descriptorOf(text("A"));
    chain->next = descriptorOf(text("B"));
    const MSElementDescr* raw = chain.get();
    ElementHandle owner = ElementHandle::Owning(chain.release());
    EXPECT_EQ(owner.GetElementDescrCP(), raw);
    ElementHandle moved(std::move(owner));
    EXPECT_EQ(owner.GetElementDescrCP(), nullptr);
    EXPECT_EQ(moved.GetElementDescrCP(), raw);
    EXPECT_EQ(moved.GetHandler().m_type, TEXT_ELM);
    ElementHandle other = ElementHandle::Owning(descriptorOf(text("C")).release());
    other = std::move(moved);  // frees C, takes the chain A, B
    EXPECT_EQ(other.GetElementDescrCP(), raw);
    ElementAgenda agenda;
    agenda.Insert(std::move(other));
    for (int i = 0; i < 100; ++i) agenda.Insert(ElementHandle::Owning(descriptorOf(text("D")).release()));
    EXPECT_EQ(agenda.GetFirstP()->GetElementDescrCP(), raw);
}

}  // namespace
