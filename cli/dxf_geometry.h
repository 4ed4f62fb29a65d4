// Plane geometry of the DXF import: affine placements (block inserts, mirrored
// object coordinates), their effect on design elements of every kind, arc
// stroking and the extent of elements.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

namespace pixelmend::dxf {

using Point = std::array<double, 2>;

// x' = a x + b y + tx, y' = c x + d y + ty.
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    Point apply(Point p) const { return {a * p[0] + b * p[1] + tx, c * p[0] + d * p[1] + ty}; }
    Point applyVector(Point v) const { return {a * v[0] + b * v[1], c * v[0] + d * v[1]}; }
    double det() const { return a * d - b * c; }
};

// The placement first applying inner, then outer.
Affine compose(const Affine& outer, const Affine& inner);
// Translation by (x, y).
Affine translation(double x, double y);
// Rotation by degrees about the origin, then scaling (sx, sy) before it: R(deg) * S(sx, sy).
Affine rotationScale(double degrees, double sx, double sy);

// Takes an element of any kind with its geometry in one frame, gives it placed by m (points,
// centres, axes, angles, text heights, dimension offsets, hatch spacing; cells recursively);
// nullopt when m collapses it (an axis or height of zero) or a number stops being finite.
std::optional<nlohmann::json> transformElement(const nlohmann::json& element, const Affine& m);

// Points along an elliptical arc: centre, axes, rotation, start and sweep (degrees), one point
// at least every 10 degrees, both ends included.
std::vector<Point> arcPoints(Point center, double a, double b, double rotation, double start, double sweep);

// Points of a polyline segment from p to q with a DXF bulge (tan of a quarter of the included
// angle), p included and q left out; just p when the bulge is 0.
std::vector<Point> bulgeSegment(Point p, Point q, double bulge);

// Grows [min, max] to hold the element (arcs and ellipses by their whole outline, texts by an
// estimate of their box, cells by their components).
void growExtent(const nlohmann::json& element, Point* min, Point* max);

// Largest coordinate, size or angle kept: extents and views of such elements stay finite.
constexpr double kMaxMagnitude = 1e15;

// True when every number in the element is finite and at most kMaxMagnitude in size.
bool withinRange(const nlohmann::json& element);

// Degrees to radians and back.
double radians(double degrees);
double degrees(double radians);

}  // namespace pixelmend::dxf
