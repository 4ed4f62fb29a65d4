// From a read DXF drawing to design elements: block inserts expanded into
// cells, DXF colours, line weights and layers resolved, and the colour table.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "cli/dxf_drawing.h"

namespace pixelmend::dxf {
namespace {

using nlohmann::json;

// Symbology after BYLAYER and BYBLOCK are resolved: layer, DXF colour 1..255, weight in 1/100 mm.
struct Resolved {
    std::string layer;
    int color = 7;
    int lineweight = 0;
};

// Raised when the design would hold more elements than the host takes.
struct TooManyElements : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Module state of one expansion: the drawing, levels handed out, elements made, blocks being expanded.
class Expander {
public:
    explicit Expander(Drawing& drawing) : d_(drawing) {}

    std::vector<std::pair<std::string, int>> levels;

    // A model-space item as a top-level element; nullopt when it is left out (counted).
    std::optional<json> topLevel(const Item& item) { return resolve(item, Affine{}, nullptr, 0); }

private:
    Drawing& d_;
    static constexpr std::size_t kMaxVisits = 10 * kMaxElements;
    std::size_t made_ = 0, visits_ = 0;
    std::vector<std::string> expanding_;

    // Every entity visited while expanding inserts, kept or not: inserts of blocks that come to
    // nothing must not go on for ever either.
    void visit() {
        if (++visits_ > kMaxVisits)
            throw TooManyElements("block inserts nest too deeply to expand (more than " + std::to_string(kMaxVisits) +
                                  " entities visited)");
    }

    void count() {
        if (++made_ > kMaxElements)
            throw TooManyElements("more than " + std::to_string(kMaxElements) +
                                  " elements once block inserts are expanded (the host's limit for a design)");
    }

    int level(const std::string& layer) {
        for (const auto& [name, number] : levels)
            if (name == layer) return number;
        levels.emplace_back(layer, int(levels.size()) + 1);
        return levels.back().second;
    }

    // BYLAYER from the layer table, BYBLOCK from the insert around (colour 7 and the default weight
    // at the top); entities of layer 0 inside a block take the insert's layer.
    Resolved resolveSymbology(const Symbology& sym, const Resolved* outer) const {
        Resolved r;
        r.layer = outer && sym.layer == "0" ? outer->layer : sym.layer;
        const auto layerIt = d_.layers.find(r.layer);
        const Layer layer = layerIt == d_.layers.end() ? Layer{} : layerIt->second;
        int color = sym.color;
        if (color == 0) color = outer ? outer->color : 7;
        if (color == 256) color = std::abs(layer.color);
        r.color = color >= -255 && color <= 255 && color != 0 ? std::abs(color) : 7;
        int weight = sym.lineweight;
        if (weight == -2) weight = outer ? outer->lineweight : 0;
        if (weight == -1) weight = layer.lineweight;
        r.lineweight = std::clamp(weight, 0, 1000);
        return r;
    }

    // Writes colour, weight and level into the element and, for a cell made of one entity (a
    // hatch with holes), into its components.
    void applySymbology(json& e, const Resolved& r) {
        e["color"] = r.color == 7 ? 0 : r.color;
        e["weight"] = std::min(31, (r.lineweight + 5) / 10);
        e["level"] = level(r.layer);
        if (e.value("filled", false) && !e.contains("fillColor")) e["fillColor"] = e["color"];
        if (e["type"] == "cell")
            for (json& c : e["components"]) applySymbology(c, r);
    }

    std::optional<json> resolve(const Item& item, const Affine& m, const Resolved* outer, int depth) {
        visit();
        const Resolved r = resolveSymbology(item.sym, outer);
        if (item.insert) return insertCell(*item.insert, m, r, depth);
        std::optional<json> e = outer ? transformElement(item.element, m) : std::optional<json>(item.element);
        if (!e) {
            ++d_.skipped["entity collapsed by its insert's scale"];
            return std::nullopt;
        }
        applySymbology(*e, r);
        count();
        if ((*e)["type"] == "cell")
            for (std::size_t i = 0; i < (*e)["components"].size(); ++i) count();
        return e;
    }

    // The placement of one copy of an insert (column col, row row) of a block with base point base.
    static Affine placement(const InsertRef& ref, Point base, int col, int row) {
        const Affine turn = rotationScale(ref.angle, 1, 1);
        const Point step = turn.applyVector({col * ref.colSpacing, row * ref.rowSpacing});
        Affine place = compose(translation(ref.point[0] + step[0], ref.point[1] + step[1]),
                               compose(rotationScale(ref.angle, ref.sx, ref.sy), translation(-base[0], -base[1])));
        if (ref.mirrored) place = compose(Affine{-1, 0, 0, 1, 0, 0}, place);
        return place;
    }

    // An insert as cells (one per column and row), placed by m; nullopt when it cannot be expanded.
    std::optional<json> insertCell(const InsertRef& ref, const Affine& m, const Resolved& r, int depth) {
        const auto it = d_.blocks.find(ref.block);
        const char* why = nullptr;
        if (it == d_.blocks.end())
            why = "INSERT (block not defined)";
        else if (std::find(expanding_.begin(), expanding_.end(), ref.block) != expanding_.end())
            why = "INSERT (block inserts itself)";
        else if (depth >= kMaxCellDepth)
            why = "INSERT (nested deeper than 64 cells)";
        else if (it->second.items.empty())
            why = "INSERT (empty block)";
        if (why) {
            ++d_.skipped[why];
            return std::nullopt;
        }
        const Block& block = it->second;
        expanding_.push_back(ref.block);
        json copies = json::array();
        bool nothing = false;
        for (int row = 0; row < ref.rows && !nothing; ++row)
            for (int col = 0; col < ref.cols && !nothing; ++col) {
                const Affine place = compose(m, placement(ref, block.base, col, row));
                json components = json::array();
                for (const Item& inner : block.items)
                    if (auto c = resolve(inner, place, &r, depth + 1)) components.push_back(std::move(*c));
                nothing = components.empty();  // then every copy would come to nothing
                if (nothing) break;
                const Point origin = place.apply(block.base);
                json cell = {{"type", "cell"},
                             {"name", ref.block},
                             {"origin", json::array({origin[0], origin[1]})},
                             {"components", std::move(components)}};
                nothing = !withinRange(cell["origin"]);
                if (nothing) break;
                applySymbologyToCell(cell, r);
                count();
                copies.push_back(std::move(cell));
            }
        expanding_.pop_back();
        if (copies.empty()) {
            ++d_.skipped["INSERT (nothing left to draw)"];
            return std::nullopt;
        }
        if (copies.size() == 1) return std::move(copies[0]);
        // The copies of an array insert are grouped in one cell.
        count();
        json group = {{"type", "cell"}, {"name", ref.block}, {"components", std::move(copies)}};
        applySymbologyToCell(group, r);
        return group;
    }

    // A cell of an insert carries the insert's symbology; its components keep their own.
    void applySymbologyToCell(json& cell, const Resolved& r) {
        cell["color"] = r.color == 7 ? 0 : r.color;
        cell["weight"] = std::min(31, (r.lineweight + 5) / 10);
        cell["level"] = level(r.layer);
    }
};

// DXF colour n as red, green, blue: the seven named colours, two greys, 24 hues of 10 shades
// (full and half saturation at five brightnesses) and a grey ramp.
std::array<int, 3> aciColor(int n) {
    static const std::array<int, 3> named[10] = {{0, 0, 0},       {255, 0, 0},    {255, 255, 0}, {0, 255, 0},
                                                 {0, 255, 255},   {0, 0, 255},    {255, 0, 255}, {255, 255, 255},
                                                 {128, 128, 128}, {192, 192, 192}};
    if (n >= 0 && n <= 9) return named[n];
    if (n >= 250) {
        const int grey = 51 + (n - 250) * 204 / 5;
        return {grey, grey, grey};
    }
    const double hue = (n - 10) / 10 * 15.0;
    const int shade = (n - 10) % 10;
    const double value = std::array<double, 5>{1.0, 0.8, 0.6, 0.5, 0.3}[std::size_t(shade / 2)];
    const double saturation = shade % 2 == 0 ? 1.0 : 0.5;
    const auto channel = [&](double offset) {
        const double k = std::fmod(offset + hue / 60.0, 6.0);
        const double f = std::clamp(std::min(k, 4.0 - k), 0.0, 1.0);  // HSV to RGB
        return int(std::lround(255.0 * value * (1.0 - saturation * f)));
    };
    return {channel(5), channel(3), channel(1)};
}

}  // namespace

json aciColorTable() {
    json table = json::array();
    table.push_back(json::array({255, 255, 255}));  // design colour 0 is DXF colour 7
    for (int n = 1; n <= 255; ++n) {
        const auto c = aciColor(n);
        table.push_back(json::array({c[0], c[1], c[2]}));
    }
    return table;
}

bool buildDesign(Drawing* drawing, DesignParts* out, std::string* problem) {
    Expander expander(*drawing);
    DesignParts parts;
    parts.min = {INFINITY, INFINITY};
    parts.max = {-INFINITY, -INFINITY};
    try {
        for (const Item& item : drawing->items) {
            auto e = expander.topLevel(item);
            if (!e) continue;
            (*e)["id"] = parts.elements.size() + 1;
            growExtent(*e, &parts.min, &parts.max);
            parts.elements.push_back(std::move(*e));
        }
    } catch (const TooManyElements& e) {
        *problem = e.what();
        return false;
    }
    parts.empty = !(parts.min[0] <= parts.max[0] && parts.min[1] <= parts.max[1]);
    parts.levels = expander.levels;
    *out = std::move(parts);
    return true;
}

}  // namespace pixelmend::dxf
