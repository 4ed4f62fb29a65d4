// Affine placement of design elements, arc stroking and element extents for the DXF import.
#include "cli/dxf_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pixelmend::dxf {
namespace {

using nlohmann::json;

Point readPoint(const json& p) { return {p[0].get<double>(), p[1].get<double>()}; }
json pointJson(Point p) { return json::array({p[0], p[1]}); }
double length(Point v) { return std::hypot(v[0], v[1]); }
bool finite(Point p) { return std::isfinite(p[0]) && std::isfinite(p[1]); }

// Maps "points" in place; false when one stops being finite.
bool mapPoints(json& e, const Affine& m) {
    for (json& p : e["points"]) {
        const Point q = m.apply(readPoint(p));
        if (!finite(q)) return false;
        p = pointJson(q);
    }
    return true;
}

// An ellipse (centre, axes a b, rotation, start, sweep in degrees) placed by m: the image of the
// unit circle under M R(rotation) diag(a, b) split into its singular values.
bool mapCurve(json& e, const Affine& m) {
    const Point center = readPoint(e["center"]);
    const double a = e["axes"][0].get<double>(), b = e["axes"][1].get<double>();
    const double rot = radians(e.value("rotation", 0.0));
    // A = M * R(rot) * diag(a, b)
    const double r00 = std::cos(rot) * a, r01 = -std::sin(rot) * b;
    const double r10 = std::sin(rot) * a, r11 = std::cos(rot) * b;
    const double p = m.a * r00 + m.b * r10, q = m.a * r01 + m.b * r11;
    const double r = m.c * r00 + m.d * r10, s = m.c * r01 + m.d * r11;
    const double E = (p + s) / 2, F = (p - s) / 2, G = (r + q) / 2, H = (r - q) / 2;
    const double Q = std::hypot(E, H), R = std::hypot(F, G);
    const double major = Q + R, minor = std::fabs(Q - R);
    if (!(minor > 0) || !std::isfinite(major)) return false;
    const double phi = (std::atan2(H, E) + std::atan2(G, F)) / 2;
    const Point newCenter = m.apply(center);
    if (!finite(newCenter)) return false;
    e["center"] = pointJson(newCenter);
    e["axes"] = json::array({major, minor});
    e["rotation"] = degrees(phi);
    if (e.contains("start")) {
        // The start point keeps its place on the curve; its parameter is read in the new axes.
        const double t = radians(e["start"].get<double>());
        const Point local = {std::cos(t), std::sin(t)};
        const Point image = {p * local[0] + q * local[1], r * local[0] + s * local[1]};
        const double u = std::cos(phi) * image[0] + std::sin(phi) * image[1];
        const double v = -std::sin(phi) * image[0] + std::cos(phi) * image[1];
        e["start"] = degrees(std::atan2(v / minor, u / major));
        if (m.det() < 0) e["sweep"] = -e["sweep"].get<double>();
    }
    if (major - minor <= 1e-12 * major) {
        // A circle: no rotation, the start angle measured from the x axis.
        if (e.contains("start")) e["start"] = e["start"].get<double>() + e["rotation"].get<double>();
        e["rotation"] = 0.0;
    }
    return true;
}

// A text's origin, rotation, height and width factor placed by m.
bool mapText(json& e, const Affine& m) {
    const Point origin = m.apply(readPoint(e["origin"]));
    const double rot = radians(e.value("rotation", 0.0));
    const Point u = m.applyVector({std::cos(rot), std::sin(rot)});
    const Point v = m.applyVector({-std::sin(rot), std::cos(rot)});
    const double lu = length(u), lv = length(v);
    if (!finite(origin) || !(lu > 0) || !(lv > 0) || !std::isfinite(lu) || !std::isfinite(lv)) return false;
    e["origin"] = pointJson(origin);
    e["rotation"] = degrees(std::atan2(u[1], u[0]));
    e["height"] = e["height"].get<double>() * lv;
    if (std::fabs(lu / lv - 1) > 1e-9) e["widthFactor"] = e.value("widthFactor", 1.0) * lu / lv;
    if (e.contains("lineSpacing")) e["lineSpacing"] = e["lineSpacing"].get<double>() * lv;
    return std::isfinite(e["height"].get<double>());
}

// A dimension's points and offset placed by m: the dimension line's point is mapped and its
// distance from the mapped points read again.
bool mapDimension(json& e, const Affine& m) {
    const Point p1 = readPoint(e["points"][0]), p2 = readPoint(e["points"][1]);
    const Point dir = {p2[0] - p1[0], p2[1] - p1[1]};
    const double len = length(dir);
    const double offset = e.value("offset", 0.0);
    const Point onLine = {p1[0] - dir[1] / len * offset, p1[1] + dir[0] / len * offset};
    const Point q1 = m.apply(p1), q2 = m.apply(p2), o = m.apply(onLine);
    const Point nd = {q2[0] - q1[0], q2[1] - q1[1]};
    const double nlen = length(nd);
    if (!finite(q1) || !finite(q2) || !finite(o) || !(nlen > 0)) return false;
    e["points"] = json::array({pointJson(q1), pointJson(q2)});
    e["offset"] = (nd[0] * (o[1] - q1[1]) - nd[1] * (o[0] - q1[0])) / nlen;
    const double scale = std::sqrt(std::fabs(m.det()));
    for (const char* key : {"height", "arrow"})
        if (e.contains(key)) e[key] = e[key].get<double>() * scale;
    return true;
}

// A hatch pattern's angle and spacing placed by m.
bool mapPattern(json& pattern, const Affine& m) {
    const double angle = radians(pattern.value("angle", 0.0));
    const Point dir = m.applyVector({std::cos(angle), std::sin(angle)});
    const Point normal = m.applyVector({-std::sin(angle), std::cos(angle)});
    const double ld = length(dir);
    if (!(ld > 0)) return false;
    // The spacing is measured across the lines: the normal's part square to the new direction.
    const double across = std::fabs(dir[0] * normal[1] - dir[1] * normal[0]) / ld;
    pattern["angle"] = degrees(std::atan2(dir[1], dir[0]));
    pattern["spacing"] = pattern["spacing"].get<double>() * across;
    return pattern["spacing"].get<double>() > 0 && std::isfinite(pattern["spacing"].get<double>());
}

}  // namespace

bool withinRange(const json& e) {
    if (e.is_number()) return std::isfinite(e.get<double>()) && std::fabs(e.get<double>()) <= kMaxMagnitude;
    if (e.is_array() || e.is_object())
        for (const json& v : e)
            if (!withinRange(v)) return false;
    return true;
}

double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }
double degrees(double radians) { return radians * 180.0 / std::numbers::pi; }

Affine compose(const Affine& o, const Affine& i) {
    return {o.a * i.a + o.b * i.c, o.a * i.b + o.b * i.d,          o.c * i.a + o.d * i.c,
            o.c * i.b + o.d * i.d, o.a * i.tx + o.b * i.ty + o.tx, o.c * i.tx + o.d * i.ty + o.ty};
}

Affine translation(double x, double y) { return {1, 0, 0, 1, x, y}; }

Affine rotationScale(double deg, double sx, double sy) {
    const double c = std::cos(radians(deg)), s = std::sin(radians(deg));
    return {c * sx, -s * sy, s * sx, c * sy, 0, 0};
}

std::optional<json> transformElement(const json& element, const Affine& m) {
    json e = element;
    const std::string type = e.value("type", "");
    bool good = true;
    if (type == "line" || type == "lineString" || type == "shape")
        good = mapPoints(e, m);
    else if (type == "arc" || type == "ellipse")
        good = mapCurve(e, m);
    else if (type == "text" || type == "textNode")
        good = mapText(e, m);
    else if (type == "dimension")
        good = mapDimension(e, m);
    else if (type == "cell") {
        if (e.contains("origin")) {
            const Point o = m.apply(readPoint(e["origin"]));
            good = finite(o);
            e["origin"] = pointJson(o);
        }
        for (json& component : e["components"]) {
            if (!good) break;
            auto placed = transformElement(component, m);
            good = placed.has_value();
            if (good) component = std::move(*placed);
        }
    }
    if (good && e.contains("pattern")) good = mapPattern(e["pattern"], m);
    if (!good || !withinRange(e)) return std::nullopt;
    return e;
}

std::vector<Point> arcPoints(Point center, double a, double b, double rotation, double start, double sweep) {
    const int steps = std::clamp(int(std::ceil(std::fabs(sweep) / 10.0)), 1, 36);
    const double rot = radians(rotation), c = std::cos(rot), s = std::sin(rot);
    std::vector<Point> points;
    for (int i = 0; i <= steps; ++i) {
        const double t = radians(start + sweep * i / steps);
        const double x = a * std::cos(t), y = b * std::sin(t);
        points.push_back({center[0] + c * x - s * y, center[1] + s * x + c * y});
    }
    return points;
}

std::vector<Point> bulgeSegment(Point p, Point q, double bulge) {
    if (std::fabs(bulge) < 1e-12) return {p};
    // The centre lies square to the chord's middle, (1 - b^2) / (4 b) chord lengths off it.
    const Point chord = {q[0] - p[0], q[1] - p[1]};
    const double k = (1 - bulge * bulge) / (4 * bulge);
    const Point center = {(p[0] + q[0]) / 2 - chord[1] * k, (p[1] + q[1]) / 2 + chord[0] * k};
    const double radius = std::hypot(p[0] - center[0], p[1] - center[1]);
    const double start = degrees(std::atan2(p[1] - center[1], p[0] - center[0]));
    const double sweep = degrees(4 * std::atan(bulge));
    std::vector<Point> points = arcPoints(center, radius, radius, 0, start, sweep);
    points.front() = p;
    points.pop_back();
    return points;
}

void growExtent(const json& e, Point* min, Point* max) {
    const auto grow = [&](Point p) {
        if (!finite(p)) return;
        for (int i = 0; i < 2; ++i) {
            (*min)[i] = std::min((*min)[i], p[i]);
            (*max)[i] = std::max((*max)[i], p[i]);
        }
    };
    const std::string type = e.value("type", "");
    if (e.contains("points"))
        for (const json& p : e["points"]) grow(readPoint(p));
    if (type == "arc" || type == "ellipse") {
        const Point c = readPoint(e["center"]);
        const double r = std::max(e["axes"][0].get<double>(), e["axes"][1].get<double>());
        grow({c[0] - r, c[1] - r});
        grow({c[0] + r, c[1] + r});
    } else if (type == "text" || type == "textNode") {
        // An estimate: glyphs about 0.6 heights wide, lines one and a half heights apart.
        const Point o = readPoint(e["origin"]);
        const double h = e["height"].get<double>();
        std::size_t chars = 1, lines = 1;
        if (e.contains("text")) chars = e["text"].get<std::string>().size();
        if (e.contains("lines")) {
            lines = e["lines"].size();
            for (const json& l : e["lines"]) chars = std::max(chars, l.get<std::string>().size());
        }
        const double reach = std::max(h * 0.6 * e.value("widthFactor", 1.0) * double(chars), h * 1.5 * double(lines));
        grow({o[0] - reach, o[1] - reach});
        grow({o[0] + reach, o[1] + reach});
    } else if (type == "dimension") {
        const Point p1 = readPoint(e["points"][0]), p2 = readPoint(e["points"][1]);
        const Point dir = {p2[0] - p1[0], p2[1] - p1[1]};
        const double len = length(dir), off = e.value("offset", 0.0);
        if (len > 0)
            for (Point p : {p1, p2}) grow({p[0] - dir[1] / len * off, p[1] + dir[0] / len * off});
    } else if (type == "cell") {
        for (const json& c : e["components"]) growExtent(c, min, max);
    }
}

}  // namespace pixelmend::dxf
