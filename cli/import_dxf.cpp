// pixelmend import-dxf: writes a design description holding an AutoCAD DXF
// drawing's entities as elements, in drawing units, with a view showing them all.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "cli/commands.h"
#include "cli/dxf_drawing.h"
#include "subhost/safefile.h"

namespace pixelmend {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const char* const kImportHelp =
    "usage: pixelmend import-dxf DRAWING.dxf -o DESIGN.json\n"
    "  Reads an ASCII DXF drawing and writes a design description whose elements are the drawing's\n"
    "  model-space entities in drawing units: LINE, LWPOLYLINE and POLYLINE (arcs of bulges stroked),\n"
    "  CIRCLE, ARC, ELLIPSE, TEXT, MTEXT, INSERT (cells, nested), linear and aligned DIMENSION and\n"
    "  HATCH. View 0 shows them all. DXF colour n becomes colour n (7, white or black, becomes 0)\n"
    "  with a colour table showing the DXF colours; line weights become weight (1/100 mm + 5) / 10;\n"
    "  layers become levels numbered in order of first use (named under \"levels\"). Other entities\n"
    "  are skipped and counted on the summary line.\n"
    "Exit code 0 when the design was written, 1 when the drawing cannot be read (file, line and\n"
    "reason on stderr; nothing written), 2 for a usage error.";

// Reads the arguments; an empty text when good, else what is wrong.
std::string importArgsParse(Args args, std::string* drawing, std::string* design) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-o") {
            if (i + 1 >= args.size()) return "-o needs a value";
            *design = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            return "unknown option " + a;
        } else if (drawing->empty()) {
            *drawing = a;
        } else {
            return "import-dxf takes one DRAWING";
        }
    }
    if (drawing->empty()) return "import-dxf needs a DRAWING.dxf";
    if (design->empty()) return "import-dxf needs -o DESIGN.json";
    return {};
}

// "3 SPLINE, 1 SOLID" of counts by kind.
std::string countList(const std::map<std::string, int>& counts) {
    std::string text;
    for (const auto& [kind, n] : counts) text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + kind;
    return text;
}

// The view showing extent [min, max] with a margin of 5 % of its larger side (1 unit when empty).
json viewOf(const dxf::DesignParts& parts) {
    if (parts.empty) return {{"origin", {0, 0, 0}}, {"extent", {1, 1, 0}}};
    const double w = parts.max[0] - parts.min[0], h = parts.max[1] - parts.min[1];
    const double margin = std::max(w, h) > 0 ? 0.05 * std::max(w, h) : 1.0;
    return {{"origin", {parts.min[0] - margin, parts.min[1] - margin, 0}},
            {"extent", {w + 2 * margin, h + 2 * margin, 0}}};
}

// The design description's text: the small keys first, then one element a line.
std::string designText(const std::string& name, const dxf::DesignParts& parts) {
    json levels = json::object();
    for (const auto& [layer, number] : parts.levels) levels[layer] = number;
    const auto dump = [](const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); };
    std::string text = "{\n  \"name\": " + dump(name) + ",\n  \"views\": [" + dump(viewOf(parts)) +
                       "],\n  \"levels\": " + dump(levels) + ",\n  \"colorTable\": " + dump(dxf::aciColorTable()) +
                       ",\n  \"elements\": [";
    for (std::size_t i = 0; i < parts.elements.size(); ++i)
        text += (i ? ",\n    " : "\n    ") + dump(parts.elements[i]);
    text += parts.elements.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return text;
}

// Writes text to path through a temporary renamed over it; false with *error.
bool writeWhole(const std::string& path, const std::string& text, std::string* error) {
    auto temp = subhost::safefile::TempFile::create(path, error);
    if (!temp) return false;
    {
        std::ofstream out(temp->path(), std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            *error = "cannot write " + temp->path();
            return false;
        }
    }
    return temp->commit(error);
}

}  // namespace

int runImportDxf(Args args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kImportHelp << "\n";
        return 0;
    }
    std::string drawingPath, designPath;
    const std::string problem = importArgsParse(args, &drawingPath, &designPath);
    if (!problem.empty()) {
        std::cerr << "pixelmend: " << problem << "\n" << kImportHelp << "\n";
        return 2;
    }
    const auto fail = [&](const std::string& why) {
        std::cerr << "pixelmend import-dxf: " << drawingPath << ": " << why << "; nothing written\n";
        return 1;
    };
    dxf::Drawing drawing;
    std::string why = dxf::readDrawing(drawingPath, &drawing);
    if (!why.empty()) return fail(why);
    dxf::DesignParts parts;
    if (!dxf::buildDesign(&drawing, &parts, &why)) return fail(why);
    std::string error;
    if (!writeWhole(designPath, designText(fs::path(drawingPath).filename().string(), parts), &error)) {
        std::cerr << "pixelmend import-dxf: " << designPath << ": " << error << "\n";
        return 1;
    }
    std::cout << "imported " << parts.elements.size() << " elements from " << drawingPath;
    if (!drawing.skipped.empty() || !drawing.notes.empty()) {
        std::cout << " (";
        if (!drawing.skipped.empty()) std::cout << "skipped: " << countList(drawing.skipped);
        if (!drawing.skipped.empty() && !drawing.notes.empty()) std::cout << "; ";
        if (!drawing.notes.empty()) std::cout << "changed: " << countList(drawing.notes);
        std::cout << ")";
    }
    std::cout << "\n";
    return 0;
}

}  // namespace pixelmend
