// Dimensions, shared cells, multi-lines and custom line styles expanded to
// simple elements (area patterns: expand_pattern.cpp).
#include "subhost/expand.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/mdlgeom.h"

namespace subhost::elements {
namespace {

constexpr double kDegrees = 3.14159265358979323846 / 180.0;
// A mitre reaches at most this many offsets from its vertex; sharper turns are cut short there.
constexpr double kMitreLimit = 4.0;
// Most dash pieces one element is drawn with; more and it is drawn solid.
constexpr double kMaxDashPieces = 200000;

DPoint3d add(const DPoint3d& a, const DPoint3d& b, double f) { return DPoint3d{a.x + b.x * f, a.y + b.y * f, a.z}; }

// The unit direction from a to b ({0,0} when they coincide).
DPoint3d unit(const DPoint3d& a, const DPoint3d& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, length = std::hypot(dx, dy);
    return length > 0 ? DPoint3d{dx / length, dy / length, 0} : DPoint3d{};
}

DPoint3d leftOf(const DPoint3d& direction) { return DPoint3d{-direction.y, direction.x, 0}; }

// An element of type in the symbology of from (no fill, no pattern).
Element partOf(const Element& from, int type, std::vector<DPoint3d> points) {
    Element e;
    e.type = type;
    e.points = std::move(points);
    e.color = from.color;
    e.weight = from.weight;
    e.style = from.style;
    e.level = from.level;
    return e;
}

// The path without points that repeat the one before (in x and y).
std::vector<DPoint3d> distinctPoints(const std::vector<DPoint3d>& path) {
    std::vector<DPoint3d> out;
    for (const DPoint3d& p : path)
        if (out.empty() || p.x != out.back().x || p.y != out.back().y) out.push_back(p);
    return out;
}

// The path (distinct points) offset by distance to its left, with mitred joins; a closed path (last point
// on the first) is mitred at its closing vertex too.
std::vector<DPoint3d> offsetPath(const std::vector<DPoint3d>& path, double distance) {
    const std::size_t n = path.size();
    const bool closed = n > 3 && path.front().x == path.back().x && path.front().y == path.back().y;
    std::vector<DPoint3d> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const bool first = i == 0, last = i + 1 == n;
        const DPoint3d in =
            first ? (closed ? unit(path[n - 2], path[0]) : unit(path[0], path[1])) : unit(path[i - 1], path[i]);
        const DPoint3d on = last ? (closed ? unit(path[0], path[1]) : in) : unit(path[i], path[i + 1]);
        const DPoint3d n1 = leftOf(in), n2 = leftOf(on);
        DPoint3d mitre{n1.x + n2.x, n1.y + n2.y, 0};
        const double length = std::hypot(mitre.x, mitre.y);
        double reach = distance;
        if (length < 1e-9) {
            // The path turns back on itself: the corner is cut square, straight ahead of the vertex.
            mitre = in;
            reach = std::fabs(distance) * kMitreLimit;
        } else {
            mitre = DPoint3d{mitre.x / length, mitre.y / length, 0};
            const double cosHalf = mitre.x * n1.x + mitre.y * n1.y;
            reach = distance / std::max(cosHalf, 1.0 / kMitreLimit);
        }
        out.push_back(add(path[i], mitre, reach));
    }
    return out;
}

// The text a dimension shows: its own, or the measured length with its decimals.
std::string dimensionText(const Element& d, double length) {
    if (!d.text.empty()) return d.text;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", std::clamp(d.precision, 0, 12), length);
    return buffer;
}

// A filled arrowhead with its tip at tip, pointing against back (a unit vector), length long.
Element arrowhead(const Element& d, const DPoint3d& tip, const DPoint3d& back, double length) {
    const DPoint3d side = leftOf(back), base = add(tip, back, length);
    const double half = length / 6;
    Element e = partOf(d, SHAPE_ELM, {tip, add(base, side, half), add(base, side, -half), tip});
    e.filled = true;
    e.fillColor = d.color;
    return e;
}

// The dash pieces of a stroked path: for each dash, the points of the path from its start to its end.
void dashPieces(const std::vector<DPoint3d>& path, const std::vector<double>& dashes,
                std::vector<std::vector<DPoint3d>>* pieces) {
    std::size_t dash = 0;
    double left = dashes[0];  // what is left of the current dash or gap
    std::vector<DPoint3d> piece{path[0]};
    for (std::size_t i = 1; i < path.size(); ++i) {
        DPoint3d a = path[i - 1];
        const DPoint3d& b = path[i];
        double segment = std::hypot(b.x - a.x, b.y - a.y);
        while (segment >= left) {
            const double f = segment > 0 ? left / segment : 0;
            a = DPoint3d{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
            segment -= left;
            if (dash % 2 == 0) {
                piece.push_back(a);
                pieces->push_back(std::move(piece));
            }
            piece.assign(1, a);
            dash = (dash + 1) % dashes.size();
            left = dashes[dash];
        }
        left -= segment;
        if (dash % 2 == 0 && (piece.back().x != b.x || piece.back().y != b.y)) piece.push_back(b);
    }
    if (dash % 2 == 0 && piece.size() > 1) pieces->push_back(std::move(piece));
}

// A dash piece as a filled band width wide, split so that no shape has more than MAX_VERTICES points.
void bandsOf(const Element& e, const std::vector<DPoint3d>& piece, double width, std::vector<Element>* out) {
    const std::size_t most = std::size_t(MAX_VERTICES - 1) / 2;
    for (std::size_t from = 0; from + 1 < piece.size(); from += most - 1) {
        const std::vector<DPoint3d> part(piece.begin() + long(from),
                                         piece.begin() + long(std::min(piece.size(), from + most)));
        const std::vector<DPoint3d> path = distinctPoints(part);
        if (path.size() < 2) continue;
        std::vector<DPoint3d> outline = offsetPath(path, width / 2);
        const std::vector<DPoint3d> right = offsetPath(path, -width / 2);
        outline.insert(outline.end(), right.rbegin(), right.rend());
        outline.push_back(outline.front());
        Element band = partOf(e, SHAPE_ELM, std::move(outline));
        band.style = 0;
        band.filled = true;
        band.fillColor = e.color;
        out->push_back(std::move(band));
    }
}

}  // namespace

bool dimensionGeometry(const Element& d, std::vector<Element>* out) {
    if (d.type != DIMENSION_ELM || d.points.size() != 2) return false;
    const DPoint3d p1 = d.points[0], p2 = d.points[1];
    const double length = std::hypot(p2.x - p1.x, p2.y - p1.y);
    if (!(length > 0) || !std::isfinite(length) || !std::isfinite(d.offset)) return false;
    const DPoint3d along = unit(p1, p2), left = leftOf(along);
    const DPoint3d q1 = add(p1, left, d.offset), q2 = add(p2, left, d.offset);
    // Extension lines reach half an arrowhead beyond the dimension line.
    const double beyond = (d.offset < 0 ? -0.5 : 0.5) * d.arrow;
    out->push_back(partOf(d, LINE_ELM, {p1, add(q1, left, beyond)}));
    out->push_back(partOf(d, LINE_ELM, {p2, add(q2, left, beyond)}));
    out->push_back(partOf(d, LINE_ELM, {q1, q2}));
    out->push_back(arrowhead(d, q1, along, d.arrow));
    out->push_back(arrowhead(d, q2, DPoint3d{-along.x, -along.y, 0}, d.arrow));
    // The text reads left to right (or upwards), a fifth of its height above the line's middle.
    const bool backwards = along.x < -1e-12 || (std::fabs(along.x) <= 1e-12 && along.y < 0);
    const DPoint3d reading = backwards ? DPoint3d{-along.x, -along.y, 0} : along;
    const DPoint3d middle{(q1.x + q2.x) / 2, (q1.y + q2.y) / 2, q1.z};
    Element text = partOf(d, TEXT_ELM, {add(middle, leftOf(reading), 0.2 * d.height)});
    text.text = dimensionText(d, length);
    text.height = d.height;
    text.font = d.font;
    text.rotation = std::atan2(reading.y, reading.x) / kDegrees;
    text.justification = Justification{1, 2};
    out->push_back(std::move(text));
    return true;
}

bool sharedCellToCell(const Element& instance, const Definitions& definitions, Element* cell, std::string* why) {
    const auto found = definitions.sharedCells.find(instance.name);
    if (found == definitions.sharedCells.end()) {
        if (why) *why = "no such shared cell";
        return false;
    }
    const Element& definition = found->second;
    const DPoint3d base = definition.points.empty() ? DPoint3d{} : definition.points[0];
    const DPoint3d origin = instance.points.empty() ? DPoint3d{} : instance.points[0];
    // Moved by the base point back to 0, scaled, turned, moved to the instance's origin.
    const double c = std::cos(instance.rotation * kDegrees), s = std::sin(instance.rotation * kDegrees);
    Transform t{};
    t.form3d[0][0] = c * instance.scaleX;
    t.form3d[0][1] = -s * instance.scaleY;
    t.form3d[1][0] = s * instance.scaleX;
    t.form3d[1][1] = c * instance.scaleY;
    t.form3d[2][2] = 1;
    t.form3d[0][3] = origin.x - (t.form3d[0][0] * base.x + t.form3d[0][1] * base.y);
    t.form3d[1][3] = origin.y - (t.form3d[1][0] * base.x + t.form3d[1][1] * base.y);
    t.form3d[2][3] = origin.z - base.z;
    Element made = partOf(instance, CELL_HEADER_ELM, {origin});
    made.name = instance.name;
    made.components = definition.components;
    for (Element& component : made.components) transformShape(component, t);
    *cell = std::move(made);
    return true;
}

bool multiLineGeometry(const Element& m, std::vector<Element>* out) {
    if (m.type != MULTILINE_ELM || m.mlines.empty()) return false;
    const std::vector<DPoint3d> path = distinctPoints(m.points);
    if (path.size() < 2) return false;
    for (const MlineLine& line : m.mlines) {
        Element e = partOf(m, LINE_STRING_ELM, offsetPath(path, line.offset));
        e.color = line.color;
        e.weight = line.weight;
        e.style = line.style;
        out->push_back(std::move(e));
    }
    const auto [low, high] = std::minmax_element(
        m.mlines.begin(), m.mlines.end(), [](const MlineLine& a, const MlineLine& b) { return a.offset < b.offset; });
    const auto cap = [&](const DPoint3d& at, const DPoint3d& direction) {
        const DPoint3d left = leftOf(direction);
        out->push_back(partOf(m, LINE_ELM, {add(at, left, low->offset), add(at, left, high->offset)}));
    };
    if (m.startCap) cap(path.front(), unit(path[0], path[1]));
    if (m.endCap) cap(path.back(), unit(path[path.size() - 2], path.back()));
    return true;
}

bool lineStyleGeometry(const Element& e, const Definitions& definitions, std::vector<Element>* out) {
    if (e.style <= 7 || !isSimple(e.type)) return false;
    const auto found = definitions.lineStyles.find(e.style);
    if (found == definitions.lineStyles.end()) return false;
    const LineStyleDef& style = found->second;
    double cycle = 0;
    for (double d : style.dashes) cycle += d;
    if (style.dashes.empty() || !(cycle > 0) || !std::isfinite(cycle)) return false;
    const std::vector<DPoint3d> path = stroke(e, 0);
    if (path.size() < 2) return false;
    double length = 0;
    for (std::size_t i = 1; i < path.size(); ++i)
        length += std::hypot(path[i].x - path[i - 1].x, path[i].y - path[i - 1].y);
    // Too many dashes to draw (tiny dashes on a long element): the caller draws it solid.
    if (!std::isfinite(length) || (length / cycle + 1) * double(style.dashes.size()) > kMaxDashPieces) return false;
    std::vector<std::vector<DPoint3d>> pieces;
    dashPieces(path, style.dashes, &pieces);
    for (std::vector<DPoint3d>& piece : pieces) {
        if (style.width > 0) {
            bandsOf(e, piece, style.width, out);
            continue;
        }
        Element dash = partOf(e, LINE_STRING_ELM, std::move(piece));
        dash.style = 0;
        out->push_back(std::move(dash));
    }
    return true;
}

}  // namespace subhost::elements
