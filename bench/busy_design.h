// The busy A0 design of the element and stamp benchmarks: 10 000 mixed elements (30% lines, 15% arcs,
// 15% filled shapes, 20% text, 20% cells of four components) in a fixed random spread over the A0 sheet
// (18720 x 13240 design units, one unit a pixel of the 400 dpi scan), as a drafter's sheet holds them.
#pragma once

#include <random>
#include <utility>

#include <nlohmann/json.hpp>

namespace pxbench {

constexpr int kDesignElements = 10000;

namespace busy {

using nlohmann::json;
constexpr double kSheetWidth = 18720, kSheetHeight = 13240;
constexpr int kElements = kDesignElements;

inline json point(double x, double y) { return {x, y}; }

inline json rectangle(double x, double y, double w, double h) {
    return {{"type", "shape"}, {"points", {point(x, y), point(x + w, y), point(x + w, y + h), point(x, y + h)}}};
}

// 10 000 elements in a fixed random spread: 30% lines, 15% arcs, 15% filled shapes, 20% text, 20% cells.
inline json busyDesign() {
    std::mt19937 random(20261206);
    std::uniform_real_distribution<double> x(200, kSheetWidth - 1500), y(200, kSheetHeight - 1500);
    std::uniform_real_distribution<double> size(80, 1200), angle(0, 360);
    std::uniform_int_distribution<int> colour(0, 15), weight(0, 5);
    const char* words[] = {"DOOR", "R12", "3500", "WALL A", "Section B-B", "Level 2", "GRID 7", "Drain 150"};
    json elements = json::array();
    for (int id = 1; id <= kElements; ++id) {
        const double px = x(random), py = y(random), s = size(random);
        const int kind = id % 20;
        json e;
        if (kind < 6) {
            e = {{"type", "line"}, {"points", {point(px, py), point(px + s, py + s * 0.3)}}};
        } else if (kind < 9) {
            e = {{"type", "arc"},
                 {"center", point(px, py)},
                 {"axes", {s / 2, s / 2}},
                 {"start", angle(random)},
                 {"sweep", 120}};
        } else if (kind < 12) {
            e = rectangle(px, py, s, s / 2);
            e["filled"] = true;
            e["fillColor"] = colour(random);
        } else if (kind < 16) {
            e = {{"type", "text"},
                 {"origin", point(px, py)},
                 {"text", words[id % 8]},
                 {"height", 40 + id % 40},
                 {"rotation", (id % 4) * 90}};
        } else {
            e = {{"type", "cell"},
                 {"name", "MARK"},
                 {"components",
                  {rectangle(px, py, s, s),
                   {{"type", "line"}, {"points", {point(px, py), point(px + s, py + s)}}},
                   {{"type", "line"}, {"points", {point(px + s, py), point(px, py + s)}}},
                   {{"type", "ellipse"}, {"center", point(px + s / 2, py + s / 2)}, {"axes", {s / 3, s / 3}}}}}};
        }
        e["id"] = id;
        e["color"] = colour(random);
        e["weight"] = weight(random);
        elements.push_back(std::move(e));
    }
    return {{"views", {{{"origin", {0, 0, 0}}, {"extent", {kSheetWidth, kSheetHeight, 0}}}}},
            {"elements", std::move(elements)}};
}

}  // namespace busy

// Takes nothing, gives the design description (views and elements) with ids 1 to kDesignElements.
inline nlohmann::json busyDesign() { return busy::busyDesign(); }

}  // namespace pxbench
