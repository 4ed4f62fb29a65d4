// The design file of the substitute host: a small JSON description with the
// design's name, read-only flag, views and colour table; the active model;
// colours; undo groups and the raster services' life cycle.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "subhost/designfile.h"
#include "subhost/elements.h"
#include "subhost/raster/raster.h"
#include "subhost/safefile.h"
#include "subhost/state.h"
#include "subhost/undo.h"

namespace subhost {
namespace {

constexpr std::uintmax_t kMaxDesignBytes = 16u << 20;
// Deepest nesting of arrays and objects a design may have; checked on the text before parsing, before anything
// that walks the document recursively (copies, element parsing) can touch it.
constexpr int kMaxDesignDepth = 64;

// Takes JSON text; gives the deepest nesting of its arrays and objects (strings skipped), in one pass.
// Invalid text is measured as far as it goes: the parser refuses it afterwards.
int nestingDepth(const std::string& text) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

constexpr std::size_t kMaxViews = 8;

using nlohmann::json;

bool isNumberArray(const json& value, std::size_t count) {
    if (!value.is_array() || value.size() != count) return false;
    for (const auto& v : value)
        if (!v.is_number()) return false;
    return true;
}

// Checks one view; an empty text when it is good, else what is wrong.
std::string viewProblem(const json& view, std::size_t index) {
    const std::string where = "view " + std::to_string(index) + ": ";
    if (!view.is_object()) return where + "must be an object";
    if (view.contains("rotation") && !view["rotation"].is_number()) return where + "\"rotation\" must be a number";
    if (view.contains("origin") && !isNumberArray(view["origin"], 3)) return where + "\"origin\" must be 3 numbers";
    if (view.contains("extent") && !isNumberArray(view["extent"], 3)) return where + "\"extent\" must be 3 numbers";
    if (view.contains("fill") && !view["fill"].is_boolean()) return where + "\"fill\" must be true or false";
    return {};
}

}  // namespace

std::optional<json> readDesignFile(const std::string& path, std::string* problem) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        *problem = "file not found";
        return std::nullopt;
    }
    if (!fs::is_regular_file(status)) {
        *problem = "not a regular file";
        return std::nullopt;
    }
    const auto size = fs::file_size(path, ec);
    if (ec || size > kMaxDesignBytes) {
        *problem = ec ? "cannot read its size" : "file too large";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *problem = "cannot be read";
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    // A hostile file must never become a deep tree: its nesting is measured on the text first.
    const std::string content = text.str();
    if (nestingDepth(content) > kMaxDesignDepth) {
        *problem = "nested deeper than the " + std::to_string(kMaxDesignDepth) + " levels a design may have";
        return std::nullopt;
    }
    json doc = json::parse(content, nullptr, false);
    if (doc.is_discarded()) {
        *problem = "not valid JSON";
        return std::nullopt;
    }
    return doc;
}

namespace {

// Checks a design description; the design it describes (named defaultName unless it says),
// or nullopt with *problem.
std::optional<DesignState> designFrom(const json& doc, const std::string& defaultName, std::string* problem) {
    if (!doc.is_object()) {
        *problem = "must be a JSON object";
        return std::nullopt;
    }
    DesignState design;
    design.open = true;
    design.document = doc;
    design.name = defaultName;
    resetColorTable(design.colorTable);
    if (doc.contains("name")) {
        if (!doc["name"].is_string() || doc["name"].get<std::string>().empty()) {
            *problem = "\"name\" must be a non-empty text";
            return std::nullopt;
        }
        design.name = doc["name"].get<std::string>();
    }
    if (doc.contains("readOnly")) {
        if (!doc["readOnly"].is_boolean()) {
            *problem = "\"readOnly\" must be true or false";
            return std::nullopt;
        }
        design.model.readOnly = doc["readOnly"].get<bool>();
    }
    if (doc.contains("views")) {
        const json& views = doc["views"];
        if (!views.is_array()) {
            *problem = "\"views\" must be a list";
            return std::nullopt;
        }
        if (views.size() > kMaxViews) {
            *problem = "too many views (" + std::to_string(views.size()) + ", at most 8)";
            return std::nullopt;
        }
        for (std::size_t i = 0; i < views.size(); ++i) {
            *problem = viewProblem(views[i], i);
            if (!problem->empty()) return std::nullopt;
        }
        design.views = views;
    }
    if (doc.contains("rasters")) design.rasters = doc["rasters"];
    if (doc.contains("colorTable")) {
        const json& table = doc["colorTable"];
        if (!table.is_array() || table.size() > 256) {
            *problem = "\"colorTable\" must be a list of at most 256 colours";
            return std::nullopt;
        }
        for (std::size_t i = 0; i < table.size(); ++i) {
            const json& c = table[i];
            bool good = c.is_array() && c.size() == 3;
            for (std::size_t k = 0; good && k < 3; ++k)
                good = c[k].is_number_integer() && c[k].get<long long>() >= 0 && c[k].get<long long>() <= 255;
            if (!good) {
                *problem = "colorTable entry " + std::to_string(i) + " must be [red, green, blue] with 0-255";
                return std::nullopt;
            }
            design.colorTable[i] =
                RGBColorDef{c[0].get<std::uint8_t>(), c[1].get<std::uint8_t>(), c[2].get<std::uint8_t>()};
        }
    }
    return design;
}

void notifyDesign(const std::string& name, std::uint32_t reason) {
    const auto func = host().app.newDesignFunc;
    if (!func || !host().app.loaded) return;
    const std::wstring wide = widen(name);
    func(wide.c_str(), reason);
}

void closeDesignNow() {
    auto& design = host().design;
    if (!design.open) return;
    const std::string name = design.name;
    notifyDesign(name, SYSTEM_NEWFILE_CLOSE);
    raster::closeAll();
    undo::clear();
    elements::clear();
    host().design = DesignState{};
    resetColorTable(host().design.colorTable);
    recordEvent({{"event", "design"}, {"action", "closed"}, {"name", utf8Narrow(name.c_str())}});
}

}  // namespace

void resetColorTable(std::array<RGBColorDef, 256>& table) {
    // The host's default colour table: eight primary colours, eight darker ones,
    // a 6 x 6 x 6 colour cube and a grey ramp.
    static const RGBColorDef firstSixteen[16] = {{255, 255, 255}, {0, 0, 255},     {0, 255, 0},   {255, 0, 0},
                                                 {255, 255, 0},   {255, 0, 255},   {255, 127, 0}, {0, 255, 255},
                                                 {192, 192, 192}, {128, 128, 128}, {128, 0, 0},   {0, 128, 0},
                                                 {0, 0, 128},     {128, 128, 0},   {128, 0, 128}, {0, 128, 128}};
    for (int i = 0; i < 16; ++i) table[i] = firstSixteen[i];
    for (int i = 0; i < 216; ++i)
        table[16 + i] =
            RGBColorDef{static_cast<std::uint8_t>(51 * (i / 36)), static_cast<std::uint8_t>(51 * ((i / 6) % 6)),
                        static_cast<std::uint8_t>(51 * (i % 6))};
    for (int i = 0; i < 24; ++i) {
        const auto g = static_cast<std::uint8_t>(8 + 10 * i);
        table[232 + i] = RGBColorDef{g, g, g};
    }
}

namespace {

// Checks doc and makes it the open design (closing the one before): its description lives at
// path, its raster files resolve against rasterDir; false with *error starting with what.
bool openDesignFrom(const json& doc, const std::string& path, const std::string& defaultName,
                    const std::string& rasterDir, const std::string& what, std::string* error) {
    std::string problem;
    auto design = designFrom(doc, defaultName, &problem);
    elements::ElementState parsed;
    const OpeningDesign opening(path);
    if (design && !elements::parseDesign(design->document, rasterDir, &parsed, &problem)) design.reset();
    if (!design) {
        if (error) *error = what + ": " + problem;
        return false;
    }
    hostEntry([&] {
        closeDesignNow();
        host().design = std::move(*design);
        elements::elementState() = std::move(parsed);
        host().design.path = path;
        const std::string name = host().design.name;
        recordEvent({{"event", "design"},
                     {"action", "opened"},
                     {"name", utf8Narrow(name.c_str())},
                     {"readOnly", host().design.model.readOnly},
                     {"views", host().design.views.size()}});
        if (!host().design.rasters.is_null()) raster::loadAttachments(host().design.rasters, rasterDir);
        notifyDesign(name, SYSTEM_NEWFILE_COMPLETE);
    });
    return true;
}

}  // namespace

bool openDesign(const std::string& jsonPath, std::string* error) {
    std::string problem;
    const auto doc = readDesignFile(jsonPath, &problem);
    if (!doc) {
        if (error) *error = "design file " + jsonPath + ": " + problem;
        return false;
    }
    std::error_code ec;
    const auto dir = std::filesystem::absolute(jsonPath, ec).parent_path().string();
    return openDesignFrom(*doc, jsonPath, jsonPath, dir, "design file " + jsonPath, error);
}

bool openDesignDocument(const nlohmann::json& doc, const std::string& baseDir, std::string* error) {
    std::error_code ec;
    const auto dir = std::filesystem::absolute(baseDir.empty() ? "." : baseDir, ec).lexically_normal();
    const std::string name = doc.is_object() && doc.contains("name") && doc["name"].is_string()
                                 ? doc["name"].get<std::string>()
                                 : std::string("untitled.dgn");
    return openDesignFrom(doc, (dir / name).string(), "untitled.dgn", dir.string(), "design " + name, error);
}

void discardRasterChanges() {
    for (const auto& file : raster::rasterState().files) file->dirty = false;
}

void closeDesign() {
    hostEntry([] { closeDesignNow(); });
}

bool saveDesign(std::string* error) { return saveDesignAs(std::string(), error); }

bool saveDesignAs(const std::string& target, std::string* error) {
    auto& design = host().design;
    if (!design.open) {
        if (error) *error = "no design is open";
        return false;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path = fs::absolute(target.empty() ? design.path : target, ec);
    bool rastersWritten = raster::flushAll();
    nlohmann::json doc = design.document.is_object() ? design.document : nlohmann::json::object();
    const nlohmann::json attachments = raster::saveAttachments(path.parent_path().string());
    if (!attachments.empty() || doc.contains("rasters")) doc["rasters"] = attachments;
    elements::saveInto(doc);
    // Write an exclusive temporary beside the description, then rename it over, so that a failed
    // save keeps the description whole and nothing planted at a temporary name is followed.
    std::string problem;
    auto temp = safefile::TempFile::create(path.string(), &problem);
    if (temp) {
        std::ofstream out(temp->path(), std::ios::binary | std::ios::trunc);
        out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        out.close();
        if (!out)
            problem = std::string("cannot write the temporary file ") + temp->path() + ": " + std::strerror(errno);
        else
            temp->commit(&problem);
    }
    if (!problem.empty()) {
        if (error) *error = "design file " + path.string() + ": cannot be saved: " + problem;
        return false;
    }
    if (target.empty()) design.document = doc;
    recordEvent(
        {{"event", "design"}, {"action", "saved"}, {"name", utf8Narrow(design.name.c_str())}, {"path", path.string()}});
    if (!rastersWritten && error) *error = "some raster files could not be written back";
    return rastersWritten;
}

}  // namespace subhost

using subhost::host;

extern "C" {

DgnModelRefP mdlModelRef_getActive() {
    auto& design = host().design;
    return design.open ? &design.model : nullptr;
}

bool mdlModelRef_isReadOnly(DgnModelRefP model) { return model && model->readOnly; }

int mdlColor_elementColorFromRGB(const RGBColorDef* color, DgnModelRefP /*model*/) {
    if (!color) return 0;
    const auto& table = host().design.colorTable;
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < 256; ++i) {
        const long dr = long(table[i].red) - color->red;
        const long dg = long(table[i].green) - color->green;
        const long db = long(table[i].blue) - color->blue;
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

int mdlRaster_initialize() {
    host().misc.rasterInitialized = true;
    subhost::raster::rasterState().initialized = true;
    return SUCCESS;
}

void mdlRaster_terminate() {
    host().misc.rasterInitialized = false;
    subhost::raster::rasterState().initialized = false;
}

void mdlUndo_startGroup() {
    auto& misc = host().misc;
    if (misc.undoGroupDepth++ == 0) ++misc.undoGroups;
    subhost::undo::startGroup();
}

void mdlUndo_endGroup() {
    auto& misc = host().misc;
    if (misc.undoGroupDepth > 0) --misc.undoGroupDepth;
    subhost::undo::endGroup();
}

int mdlUndo_undoActions(int count) {
    const int undone = subhost::undo::undoGroups(count);
    subhost::recordEvent({{"event", "undo"}, {"groups", undone}, {"count", count}});
    return SUCCESS;
}

}  // extern "C"
