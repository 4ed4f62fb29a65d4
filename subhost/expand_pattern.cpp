// Area patterns: hatch lines cut to the inside of a closed element, or of a
// grouped-hole cell's solid with its holes left open.
#include <algorithm>
#include <cmath>

#include "subhost/expand.h"

namespace subhost::elements {
namespace {

constexpr double kDegrees = 3.14159265358979323846 / 180.0;
// Most hatch lines one area gets, and most crossings of its outline by them; a spacing that would give more
// is widened until it gives no more.
constexpr double kMaxHatchLines = 200000;
constexpr double kMaxCrossings = 100000;

using Loop = std::vector<DPoint3d>;

// The closed outlines of an element: a shape or ellipse stroked, a cell's closed components.
void loopsOf(const Element& e, int depth, std::vector<Loop>* out) {
    if (isClosed(e)) {
        Loop loop = stroke(e, 0);
        if (loop.size() >= 3) out->push_back(std::move(loop));
    } else if (e.type == CELL_HEADER_ELM && depth < 64) {
        for (const Element& c : e.components) loopsOf(c, depth + 1, out);
    }
}

// The outlines of an area: [0] the solid's, then one set per hole.
std::vector<std::vector<Loop>> areaOutlines(const Element& area) {
    std::vector<std::vector<Loop>> sets;
    if (area.type != CELL_HEADER_ELM) {
        sets.emplace_back();
        loopsOf(area, 0, &sets.back());
        return sets;
    }
    if (area.components.empty()) return sets;
    sets.emplace_back();
    loopsOf(area.components[0], 0, &sets.back());
    // The holes are the components marked as holes; when none is marked, every component after the first.
    const bool marked =
        std::any_of(area.components.begin() + 1, area.components.end(), [](const Element& c) { return c.hole; });
    for (std::size_t i = 1; i < area.components.size(); ++i) {
        if (marked && !area.components[i].hole) continue;
        sets.emplace_back();
        loopsOf(area.components[i], 0, &sets.back());
    }
    return sets;
}

// Where a hatch line crosses an outline: the line's number, the position along it, the outline set.
struct Crossing {
    long line;
    double along;
    std::size_t set;
    double x, y;  // the crossing itself, on the edge (pieces end exactly on their outlines)
};

// The lines of a hatch: across direction `across`, at first + k * spacing for k in [0, count).
struct Hatch {
    DPoint3d along, across;
    double first = 0, spacing = 0;
    long count = 0;
};

// Every crossing of the outlines by the hatch's lines (each edge counted half-open, so a vertex on a line is
// crossed once).
std::vector<Crossing> crossings(const std::vector<std::vector<Loop>>& sets, const Hatch& h) {
    std::vector<Crossing> out;
    for (std::size_t s = 0; s < sets.size(); ++s)
        for (const Loop& loop : sets[s])
            for (std::size_t i = 0; i < loop.size(); ++i) {
                const DPoint3d& a = loop[i];
                const DPoint3d& b = loop[(i + 1) % loop.size()];
                const double da = a.x * h.across.x + a.y * h.across.y, db = b.x * h.across.x + b.y * h.across.y;
                const double lo = std::min(da, db), hi = std::max(da, db);
                const long k0 = std::max(0L, long(std::ceil((lo - h.first) / h.spacing)));
                const long k1 = std::min(h.count - 1, long(std::ceil((hi - h.first) / h.spacing)));
                for (long k = k0; k <= k1; ++k) {
                    const double c = h.first + double(k) * h.spacing;
                    if ((da > c) == (db > c)) continue;
                    const double f = (c - da) / (db - da);
                    const double x = a.x + (b.x - a.x) * f, y = a.y + (b.y - a.y) * f;
                    out.push_back(Crossing{k, x * h.along.x + y * h.along.y, s, x, y});
                }
            }
    std::sort(out.begin(), out.end(), [](const Crossing& p, const Crossing& q) {
        return p.line != q.line ? p.line < q.line : p.along < q.along;
    });
    return out;
}

// One end of a piece of a hatch line: its position along the line and where it is.
struct End {
    double along, x, y;
};
bool operator<(const End& a, const End& b) { return a.along < b.along; }
using Intervals = std::vector<std::pair<End, End>>;

// The inside of one outline set on a line: its sorted crossings paired even-odd.
Intervals insideOf(const std::vector<End>& sorted) {
    Intervals out;
    for (std::size_t i = 0; i + 1 < sorted.size(); i += 2) out.emplace_back(sorted[i], sorted[i + 1]);
    return out;
}

// a minus every interval of holes.
Intervals subtract(Intervals a, Intervals holes) {
    std::sort(holes.begin(), holes.end());
    Intervals out;
    for (auto [from, to] : a) {
        for (const auto& [hf, ht] : holes) {
            if (ht.along <= from.along || hf.along >= to.along) continue;
            if (hf.along > from.along) out.emplace_back(from, hf);
            if (ht.along > from.along) from = ht;
            if (from.along >= to.along) break;
        }
        if (from.along < to.along) out.emplace_back(from, to);
    }
    return out;
}

// The hatch of an area into *h; false when its pattern gives no line. The spacing is widened against
// hostile counts.
bool makeHatch(const Pattern& p, const std::vector<std::vector<Loop>>& sets, Hatch* h) {
    if (!(p.spacing > 0) || !std::isfinite(p.spacing) || !std::isfinite(p.angle)) return false;
    h->along = DPoint3d{std::cos(p.angle * kDegrees), std::sin(p.angle * kDegrees), 0};
    h->across = DPoint3d{-h->along.y, h->along.x, 0};
    double low = HUGE_VAL, high = -HUGE_VAL, travel = 0;  // travel: the edges' extent across the lines
    for (const auto& set : sets)
        for (const Loop& loop : set)
            for (std::size_t i = 0; i < loop.size(); ++i) {
                const DPoint3d& a = loop[i];
                const DPoint3d& b = loop[(i + 1) % loop.size()];
                const double da = a.x * h->across.x + a.y * h->across.y, db = b.x * h->across.x + b.y * h->across.y;
                low = std::min(low, da);
                high = std::max(high, da);
                travel += std::fabs(db - da);
            }
    if (!(high > low) || !std::isfinite(high - low) || !std::isfinite(travel)) return false;
    double spacing = p.spacing;
    spacing = std::max(spacing, (high - low) / kMaxHatchLines);
    spacing = std::max(spacing, travel / kMaxCrossings);
    h->spacing = spacing;
    h->first = std::ceil(low / spacing) * spacing;
    if (!std::isfinite(h->first)) h->first = low;
    h->count = long(std::floor((high - h->first) / spacing)) + 1;
    return h->count > 0;
}

}  // namespace

bool patternGeometry(const Element& area, std::vector<Element>* out) {
    if (!area.pattern || !(isClosed(area) || (area.type == CELL_HEADER_ELM && area.groupedHole))) return false;
    const std::vector<std::vector<Loop>> sets = areaOutlines(area);
    Hatch h;
    if (sets.empty() || sets[0].empty() || !makeHatch(*area.pattern, sets, &h)) return false;
    const std::vector<Crossing> all = crossings(sets, h);
    std::vector<std::pair<End, End>> pieces;
    for (std::size_t i = 0; i < all.size();) {
        std::size_t j = i;
        while (j < all.size() && all[j].line == all[i].line) ++j;
        std::vector<std::vector<End>> bySet(sets.size());
        for (std::size_t k = i; k < j; ++k) bySet[all[k].set].push_back(End{all[k].along, all[k].x, all[k].y});
        Intervals holes;
        for (std::size_t s = 1; s < sets.size(); ++s) {
            const Intervals hole = insideOf(bySet[s]);
            holes.insert(holes.end(), hole.begin(), hole.end());
        }
        const Intervals inside = subtract(insideOf(bySet[0]), holes);
        pieces.insert(pieces.end(), inside.begin(), inside.end());
        i = j;
    }
    const double z = sets[0][0][0].z;
    const std::size_t before = out->size();
    for (const auto& [from, to] : pieces) {
        Element e;
        e.type = LINE_ELM;
        e.points = {DPoint3d{from.x, from.y, z}, DPoint3d{to.x, to.y, z}};
        e.color = area.pattern->color;
        e.weight = area.pattern->weight;
        e.level = area.level;
        out->push_back(std::move(e));
    }
    return out->size() > before;
}

}  // namespace subhost::elements
