// A DXF drawing as the import keeps it between reading and writing: layers,
// block definitions and model-space items, each item a design element in its
// own frame (or a block insert) with the DXF symbology still unresolved.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/dxf_geometry.h"

namespace pixelmend::dxf {

// Most elements a design holds (the host's limit), cell components included.
constexpr std::size_t kMaxElements = 100000;
// Deepest nesting of cells.
constexpr int kMaxCellDepth = 64;
// Most points of a line string or shape.
constexpr std::size_t kMaxPoints = 5000;

// DXF symbology of an entity: colour 0 is BYBLOCK and 256 BYLAYER; line weight in 1/100 mm,
// -1 BYLAYER, -2 BYBLOCK, -3 the default.
struct Symbology {
    std::string layer = "0";
    int color = 256;
    int lineweight = -1;
};

// A block insert: a cell of the block placed at point, scaled, turned (degrees), repeated over
// columns and rows; mirrored in x when its object coordinates are seen from below.
struct InsertRef {
    std::string block;
    Point point{};
    double sx = 1, sy = 1, angle = 0;
    int cols = 1, rows = 1;
    double colSpacing = 0, rowSpacing = 0;
    bool mirrored = false;
};

// One entity: a design element (no id, no symbology), or an insert.
struct Item {
    Symbology sym;
    nlohmann::json element;
    std::optional<InsertRef> insert;
    long line = 0;  // where the entity starts in the file
};

struct Block {
    Point base{};
    std::vector<Item> items;
};

struct Layer {
    int color = 7;  // DXF colour number (negative: the layer is off)
    int lineweight = -3;
};

// Module state of an import: what the file held.
struct Drawing {
    std::map<std::string, Layer> layers;
    std::map<std::string, Block> blocks;
    std::vector<Item> items;             // model space, in file order
    std::map<std::string, int> skipped;  // entities left out, by kind and reason
    std::map<std::string, int> notes;    // entities kept with a change (split, shortened)
    std::size_t stored = 0;              // items kept, blocks included
};

// Reads the DXF file at path into *out through dxflib; an empty text, or the problem
// ("line N: ...", without the file name).
std::string readDrawing(const std::string& path, Drawing* out);

// What a design description is made of: its elements, levels and the elements' extent.
struct DesignParts {
    nlohmann::json elements = nlohmann::json::array();
    std::vector<std::pair<std::string, int>> levels;
    Point min{}, max{};
    bool empty = true;
};
// Takes a drawing; gives in *out the design's elements (ids from 1, inserts expanded into cells),
// its levels (layer name to level, numbered in order of first use) and extent, and adds what it
// leaves out to drawing->skipped; false with *problem when the elements would be too many.
bool buildDesign(Drawing* drawing, DesignParts* out, std::string* problem);

// The colour table that shows design colour n as DXF colour n does (0 as DXF colour 7).
nlohmann::json aciColorTable();

}  // namespace pixelmend::dxf
