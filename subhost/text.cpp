// Text dropped to its glyph outlines: each line laid out with the font's
// advances and kerning, placed at its justification point, scaled, turned and
// moved to the text's origin; one closed shape per glyph contour.
#include <algorithm>
#include <cmath>

#include "subhost/expand.h"
#include "subhost/text_font.h"

namespace subhost::elements {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
// Most memory the outlines of one text (or text node) may take; the longest text of common glyphs stays well
// within it, a text of glyphs made of many small contours may not.
constexpr std::size_t kMaxOutlineBytes = std::size_t(256) << 20;

// The code point of the UTF-8 sequence at s[*i], *i moved past it; a malformed sequence (bad lead or
// continuation byte, overlong form, surrogate, beyond U+10FFFF, cut short) gives U+FFFD and skips one byte.
char32_t nextCodePoint(const std::string& s, std::size_t* i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(*i);
    int length = 0;
    char32_t cp = 0, least = 0;
    if (lead < 0x80) return ++*i, lead;
    if ((lead & 0xE0) == 0xC0) length = 2, cp = lead & 0x1F, least = 0x80;
    if ((lead & 0xF0) == 0xE0) length = 3, cp = lead & 0x0F, least = 0x800;
    if ((lead & 0xF8) == 0xF0) length = 4, cp = lead & 0x07, least = 0x10000;
    if (length == 0 || *i + std::size_t(length) > s.size()) return ++*i, kReplacement;
    for (int k = 1; k < length; ++k) {
        if ((byte(*i + std::size_t(k)) & 0xC0) != 0x80) return ++*i, kReplacement;
        cp = (cp << 6) | (byte(*i + std::size_t(k)) & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return ++*i, kReplacement;
    *i += std::size_t(length);
    return cp;
}

// A glyph of a laid-out line and its pen position (font units).
struct Placed {
    unsigned glyph = 0;
    double x = 0;
};

// The glyphs of one line with kerning applied; *advance receives the line's advance width (font units).
std::vector<Placed> layoutLine(fonts::Face& face, const std::string& text, double* advance) {
    std::vector<Placed> placed;
    placed.reserve(text.size());
    double pen = 0;
    unsigned previous = 0;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned glyph = fonts::glyphIndex(face, nextCodePoint(text, &i));
        pen += fonts::kerningOf(face, previous, glyph);
        placed.push_back({glyph, pen});
        pen += fonts::glyphOf(face, glyph).advance;
        previous = glyph;
    }
    *advance = pen;
    return placed;
}

// An affine map from font units of a line to design coordinates: x' = xx*x + xy*y + x0, y' = yx*x + yy*y + y0.
struct Placement {
    double xx, xy, x0, yx, yy, y0, z;
};

// Where a line of advance width `advance` (font units) goes: scaled to the cap height, stretched by the width
// factor, its justification point at the text's origin, turned about it.
Placement placementOf(const Element& text, double capHeight, double advance) {
    const double s = text.height / capHeight, sx = s * text.widthFactor;
    const double dx = -advance * sx * 0.5 * text.justification.horizontal;
    const double dy = -text.height * (2 - text.justification.vertical) * 0.5;
    const double a = text.rotation * 3.14159265358979323846 / 180.0, c = std::cos(a), n = std::sin(a);
    const DPoint3d& o = text.points[0];
    return {c * sx, -n * s, o.x + c * dx - n * dy, n * sx, c * s, o.y + n * dx + c * dy, o.z};
}

// The closed shape every glyph contour of text is drawn as, without points.
Element contourTemplate(const Element& text) {
    Element shape;
    shape.type = SHAPE_ELM;
    shape.color = text.color;
    shape.weight = text.weight;
    shape.level = text.level;
    return shape;
}

// One line of text laid out in its face: the glyphs and the line's advance width (font units).
struct LaidOut {
    const Element* text = nullptr;
    fonts::Face* face = nullptr;
    std::vector<Placed> glyphs;
    double advance = 0;
};

// Bytes the outlines of the laid-out lines take as elements (each contour a shape with its points).
std::size_t outlineBytes(const std::vector<LaidOut>& lines) {
    std::size_t bytes = 0;
    for (const LaidOut& l : lines)
        for (const Placed& g : l.glyphs)
            for (const fonts::Contour& c : fonts::glyphOf(*l.face, g.glyph).contours)
                bytes += sizeof(Element) + c.points.size() * sizeof(DPoint3d);
    return bytes;
}

// Appends a laid-out line as its glyphs: a glyph without holes as its filled contours, a glyph with holes
// (the counters of "A" or "B") as a grouped-hole cell, its first solid contour first and its holes marked,
// so that a fill leaves the holes open wherever the glyph is drawn or burnt.
void drawLine(const LaidOut& line, std::vector<Element>* out) {
    const Element& text = *line.text;
    const Placement m = placementOf(text, fonts::capHeightOf(*line.face), line.advance);
    const Element shape = contourTemplate(text);
    Element cell = contourTemplate(text);
    cell.type = CELL_HEADER_ELM;
    cell.groupedHole = true;
    cell.filled = false;
    for (const Placed& g : line.glyphs) {
        const std::vector<fonts::Contour>& contours = fonts::glyphOf(*line.face, g.glyph).contours;
        if (contours.empty()) continue;
        std::vector<Element> parts;
        parts.reserve(contours.size());
        for (const fonts::Contour& c : contours) {
            Element& e = parts.emplace_back(shape);
            e.hole = c.hole;
            e.filled = !c.hole;
            e.fillColor = c.hole ? 0 : text.color;
            e.points.reserve(c.points.size());
            for (const fonts::FontPoint& p : c.points) {
                const double x = p.x + g.x;
                e.points.push_back({m.xx * x + m.xy * p.y + m.x0, m.yx * x + m.yy * p.y + m.y0, m.z});
            }
        }
        if (std::none_of(parts.begin(), parts.end(), [](const Element& e) { return e.hole; })) {
            for (Element& e : parts) out->push_back(std::move(e));
            continue;
        }
        const auto solid = std::find_if(parts.begin(), parts.end(), [](const Element& e) { return !e.hole; });
        if (solid != parts.end()) std::rotate(parts.begin(), solid, solid + 1);
        Element& glyph = out->emplace_back(cell);
        glyph.points.assign(1, parts.front().points.front());
        glyph.components = std::move(parts);
    }
}

// Why a text element cannot be drawn, empty when it can: its origin, height and width factor must be usable.
std::string unusable(const Element& text) {
    if (text.points.empty()) return "a text without an origin cannot be drawn";
    const DPoint3d& o = text.points[0];
    const double reach = text.height * text.widthFactor * double(text.text.size() + 1);
    if (!(text.height > 0) || !(text.widthFactor > 0) || !std::isfinite(reach) || !std::isfinite(text.rotation) ||
        !std::isfinite(o.x + o.y + o.z + reach))
        return "a text with an unusable height, width factor, rotation or origin cannot be drawn";
    return {};
}

}  // namespace

bool textGeometry(const Element& text, std::vector<Element>* out, std::string* note) {
    std::vector<const Element*> lines;
    if (text.type == TEXT_ELM) lines.push_back(&text);
    if (text.type == TEXT_NODE_ELM)
        for (const Element& c : text.components)
            if (c.type == TEXT_ELM) lines.push_back(&c);
    if (text.type != TEXT_ELM && text.type != TEXT_NODE_ELM) {
        if (note) *note = "only text and text nodes are drawn as glyph outlines";
        return false;
    }
    for (const Element* line : lines) {
        const std::string why = unusable(*line);
        if (!why.empty()) {
            if (note) *note = why;
            return false;
        }
    }
    const auto lock = fonts::lockFonts();
    std::string fallback;
    fonts::Face* face = fonts::faceFor(text.font, &fallback);
    if (note) *note = fallback;
    if (!face) return false;
    std::vector<LaidOut> laidOut;
    for (const Element* line : lines) {
        fonts::Face* own = line->font == text.font ? face : fonts::faceFor(line->font, nullptr);
        if (!own) continue;
        LaidOut& l = laidOut.emplace_back(LaidOut{line, own, {}, 0});
        l.glyphs = layoutLine(*own, line->text, &l.advance);
    }
    if (outlineBytes(laidOut) > kMaxOutlineBytes) {
        if (note) *note = "a text too intricate to draw: its glyph outlines would take more than 256 MiB";
        return false;
    }
    for (const LaidOut& l : laidOut) drawLine(l, out);
    return true;
}

}  // namespace subhost::elements
