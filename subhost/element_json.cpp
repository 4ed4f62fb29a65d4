// The design description's elements: every kind read from JSON with its
// checks, and written back as it was read (what `save` writes).
#include <algorithm>
#include <cmath>
#include <set>

#include "subhost/elements.h"

namespace subhost::elements {
namespace {

using nlohmann::json;

// Deepest nesting of cells, shared cell definitions and text nodes.
constexpr int kMaxDepth = 64;
// Longest text of a text element (bytes).
constexpr std::size_t kMaxTextBytes = 65535;
// Most lines of a multi-line and of a text node.
constexpr std::size_t kMaxMlines = 16;
constexpr std::size_t kMaxTextLines = 1000;
// Most components of one cell.
constexpr std::size_t kMaxComponents = 100000;

struct TypeName {
    int type;
    const char* name;
};
constexpr TypeName kTypeNames[] = {{LINE_ELM, "line"},           {LINE_STRING_ELM, "lineString"},
                                   {SHAPE_ELM, "shape"},         {ARC_ELM, "arc"},
                                   {ELLIPSE_ELM, "ellipse"},     {CELL_HEADER_ELM, "cell"},
                                   {TEXT_ELM, "text"},           {TEXT_NODE_ELM, "textNode"},
                                   {DIMENSION_ELM, "dimension"}, {SHARED_CELL_ELM, "sharedCell"},
                                   {MULTILINE_ELM, "multiLine"}, {RASTER_FRAME_ELM, "rasterFrame"}};

constexpr const char* kJustifications[3][3] = {{"leftTop", "leftCenter", "leftBottom"},
                                               {"centerTop", "centerCenter", "centerBottom"},
                                               {"rightTop", "rightCenter", "rightBottom"}};

const char* typeName(int type) {
    for (const auto& t : kTypeNames)
        if (t.type == type) return t.name;
    return "unknown";
}

std::string kindList() {
    std::string list;
    for (const auto& t : kTypeNames) list += (list.empty() ? "" : ", ") + std::string(t.name);
    return list;
}

bool finite(const json& v) { return v.is_number() && std::isfinite(v.get<double>()); }

// Reads [x, y] or [x, y, z]; false when it is not that.
bool readPoint(const json& v, DPoint3d* p) {
    if (!v.is_array() || v.size() < 2 || v.size() > 3) return false;
    for (const auto& c : v)
        if (!finite(c)) return false;
    *p = DPoint3d{v[0].get<double>(), v[1].get<double>(), v.size() == 3 ? v[2].get<double>() : 0.0};
    return true;
}

json pointJson(const DPoint3d& p) { return {p.x, p.y, p.z}; }

// Reads an integer key within [low, high] into *out (kept when absent); an empty text or the problem.
std::string readInt(const json& e, const char* key, long long low, long long high, int* out) {
    if (!e.contains(key)) return {};
    const json& v = e[key];
    if (!v.is_number_integer() || v.get<long long>() < low || v.get<long long>() > high)
        return std::string("\"") + key + "\" must be a whole number " + std::to_string(low) + "-" +
               std::to_string(high);
    *out = int(v.get<long long>());
    return {};
}

std::string readDouble(const json& e, const char* key, double* out) {
    if (!e.contains(key)) return {};
    if (!finite(e[key])) return std::string("\"") + key + "\" must be a number";
    *out = e[key].get<double>();
    return {};
}

std::string readPositive(const json& e, const char* key, double* out) {
    std::string problem = readDouble(e, key, out);
    if (problem.empty() && e.contains(key) && !(*out > 0)) problem = std::string("\"") + key + "\" must be above 0";
    return problem;
}

std::string readBool(const json& e, const char* key, bool* out) {
    if (!e.contains(key)) return {};
    if (!e[key].is_boolean()) return std::string("\"") + key + "\" must be true or false";
    *out = e[key].get<bool>();
    return {};
}

std::string readText(const json& e, const char* key, std::size_t most, std::string* out) {
    if (!e.contains(key)) return {};
    if (!e[key].is_string()) return std::string("\"") + key + "\" must be a text";
    *out = e[key].get<std::string>();
    if (out->size() > most)
        return std::string("\"") + key + "\" is too long (" + std::to_string(out->size()) + " bytes, at most " +
               std::to_string(most) + ")";
    return {};
}

// Reads a list of points of least..most entries into *out.
std::string readPoints(const json& e, std::size_t least, std::size_t most, std::vector<DPoint3d>* out) {
    const json& points = e.value("points", json());
    if (!points.is_array()) return "\"points\" must be a list of points";
    if (points.size() > most)
        return "too many points (" + std::to_string(points.size()) + ", at most " + std::to_string(most) + ")";
    if (points.size() < least) return "too few points (at least " + std::to_string(least) + ")";
    for (std::size_t i = 0; i < points.size(); ++i) {
        DPoint3d p;
        if (!readPoint(points[i], &p)) return "point " + std::to_string(i) + " must be [x, y] or [x, y, z]";
        out->push_back(p);
    }
    return {};
}

std::string readOrigin(const json& e, bool required, Element* s) {
    if (!e.contains("origin")) return required ? "\"origin\" must be [x, y] or [x, y, z]" : std::string();
    DPoint3d p;
    if (!readPoint(e["origin"], &p)) return "\"origin\" must be [x, y] or [x, y, z]";
    s->points.assign(1, p);
    return {};
}

std::string readType(const json& e, int* type) {
    if (!e.contains("type")) return "\"type\" must be a kind name or element type number";
    const json& t = e["type"];
    *type = 0;
    if (t.is_string()) {
        for (const auto& k : kTypeNames)
            if (t.get<std::string>() == k.name) *type = k.type;
        if (*type == 0) return "unknown type \"" + t.get<std::string>() + "\" (" + kindList() + ")";
        return {};
    }
    if (t.is_number_integer())
        for (const auto& k : kTypeNames)
            if (t.get<long long>() == k.type) *type = k.type;
    if (*type == 0) return "unknown type " + t.dump() + " (" + kindList() + ")";
    return {};
}

std::string readSymbology(const json& e, Element* s) {
    std::string problem;
    if (!(problem = readInt(e, "color", 0, 255, &s->color)).empty()) return problem;
    if (!(problem = readInt(e, "weight", 0, 31, &s->weight)).empty()) return problem;
    if (!(problem = readInt(e, "style", 0, 2147483647LL, &s->style)).empty()) return problem;
    if (!(problem = readInt(e, "level", -1000000, 1000000, &s->level)).empty()) return problem;
    if (!(problem = readInt(e, "fillColor", 0, 255, &s->fillColor)).empty()) return problem;
    if (!(problem = readBool(e, "filled", &s->filled)).empty()) return problem;
    if (!(problem = readBool(e, "hole", &s->hole)).empty()) return problem;
    if (!(problem = readBool(e, "skipBit", &s->skip)).empty()) return problem;
    if (e.contains("pattern")) {
        const json& p = e["pattern"];
        if (!p.is_object()) return "\"pattern\" must be an object";
        Pattern pattern;
        pattern.color = s->color;
        pattern.weight = s->weight;
        if (!(problem = readDouble(p, "angle", &pattern.angle)).empty()) return "pattern: " + problem;
        if (!p.contains("spacing")) return "pattern: \"spacing\" must be above 0";
        if (!(problem = readPositive(p, "spacing", &pattern.spacing)).empty()) return "pattern: " + problem;
        if (!(problem = readInt(p, "color", 0, 255, &pattern.color)).empty()) return "pattern: " + problem;
        if (!(problem = readInt(p, "weight", 0, 31, &pattern.weight)).empty()) return "pattern: " + problem;
        s->pattern = pattern;
    }
    return {};
}

std::string readCurve(const json& e, Element* s) {
    std::string problem;
    if (!e.contains("center") || !readPoint(e["center"], &s->center)) return "\"center\" must be [x, y] or [x, y, z]";
    const json& axes = e.value("axes", json());
    if (!axes.is_array() || axes.size() != 2 || !finite(axes[0]) || !finite(axes[1]) || axes[0].get<double>() <= 0 ||
        axes[1].get<double>() <= 0)
        return "\"axes\" must be two positive numbers";
    s->primary = axes[0].get<double>();
    s->secondary = axes[1].get<double>();
    if (!(problem = readDouble(e, "rotation", &s->rotation)).empty()) return problem;
    if (!(problem = readDouble(e, "start", &s->start)).empty()) return problem;
    if (!(problem = readDouble(e, "sweep", &s->sweep)).empty()) return problem;
    if (s->type == ELLIPSE_ELM) s->start = 0, s->sweep = 360;
    if (std::fabs(s->sweep) > 360) return "\"sweep\" must be within -360 and 360 degrees";
    return {};
}

// Text and text node keys other than the text itself.
std::string readTextStyle(const json& e, Element* s) {
    std::string problem;
    if (!(problem = readOrigin(e, true, s)).empty()) return problem;
    if (!e.contains("height")) return "\"height\" must be above 0";
    if (!(problem = readPositive(e, "height", &s->height)).empty()) return problem;
    if (!(problem = readPositive(e, "widthFactor", &s->widthFactor)).empty()) return problem;
    if (!(problem = readDouble(e, "rotation", &s->rotation)).empty()) return problem;
    if (!(problem = readText(e, "font", 256, &s->font)).empty()) return problem;
    if (e.contains("justification")) {
        const json& j = e["justification"];
        bool found = false;
        for (int h = 0; h < 3; ++h)
            for (int v = 0; v < 3; ++v)
                if (j.is_string() && j.get<std::string>() == kJustifications[h][v]) {
                    s->justification = Justification{h, v};
                    found = true;
                }
        if (!found) return "\"justification\" must be leftTop, leftCenter, leftBottom, centerTop, ... rightBottom";
    }
    return {};
}

// The text components of a text node: one a line, each line lower by height + spacing, turned with the node.
void textNodeLines(const std::vector<std::string>& lines, Element* node) {
    const double a = node->rotation * 3.14159265358979323846 / 180.0;
    const double step = node->height + node->lineSpacing;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Element line = *node;
        line.type = TEXT_ELM;
        line.components.clear();
        line.pattern.reset();
        line.text = lines[i];
        const double down = step * double(i);
        line.points.assign(1, DPoint3d{node->points[0].x + down * std::sin(a), node->points[0].y - down * std::cos(a),
                                       node->points[0].z});
        node->components.push_back(std::move(line));
    }
}

std::string readComponents(const json& e, const Definitions& definitions, int depth, Element* s) {
    const json& list = e.value("components", json());
    if (!list.is_array() || list.empty()) return "\"components\" must be a list of at least one element";
    if (list.size() > kMaxComponents) return "too many components";
    for (std::size_t i = 0; i < list.size(); ++i) {
        Element c;
        const std::string why = readElement(list[i], definitions, depth + 1, &c);
        if (!why.empty()) return "component " + std::to_string(i) + ": " + why;
        s->components.push_back(std::move(c));
    }
    return {};
}

// The kind-specific keys of element type s->type.
std::string readKind(const json& e, const Definitions& definitions, int depth, Element* s) {
    std::string problem;
    switch (s->type) {
    case ARC_ELM:
    case ELLIPSE_ELM:
        return readCurve(e, s);
    case LINE_ELM:
        if (!(problem = readPoints(e, 2, 2, &s->points)).empty()) return "a line has 2 points";
        return {};
    case LINE_STRING_ELM:
        return readPoints(e, 2, std::size_t(MAX_VERTICES), &s->points);
    case SHAPE_ELM:
        if (!(problem = readPoints(e, 3, std::size_t(MAX_VERTICES), &s->points)).empty()) return problem;
        closeShape(s->points);
        return {};
    case RASTER_FRAME_ELM:
        // 4 corners, or 5 with the first again (as the host writes it back).
        if (!(problem = readPoints(e, 4, 5, &s->points)).empty()) return "a raster frame has 4 corner points";
        closeShape(s->points);
        return {};
    case CELL_HEADER_ELM:
        if (!(problem = readText(e, "name", 256, &s->name)).empty()) return problem;
        if (!(problem = readBool(e, "groupedHole", &s->groupedHole)).empty()) return problem;
        if (!(problem = readComponents(e, definitions, depth, s)).empty()) return problem;
        if (!(problem = readOrigin(e, false, s)).empty()) return problem;
        if (s->points.empty()) {
            const DRange3d r = elementRange(s->components.front(), definitions);
            s->points.assign(1, r.low.x <= r.high.x ? r.low : DPoint3d{});
        }
        return {};
    case TEXT_ELM:
        if (!(problem = readTextStyle(e, s)).empty()) return problem;
        if (!e.contains("text") || !e["text"].is_string() || e["text"].get<std::string>().empty())
            return "\"text\" must be a text of at least one character";
        return readText(e, "text", kMaxTextBytes, &s->text);
    case TEXT_NODE_ELM: {
        if (!(problem = readTextStyle(e, s)).empty()) return problem;
        s->lineSpacing = 0.5 * s->height;
        if (!(problem = readDouble(e, "lineSpacing", &s->lineSpacing)).empty()) return problem;
        const json& lines = e.value("lines", json());
        if (!lines.is_array() || lines.empty() || lines.size() > kMaxTextLines)
            return "\"lines\" must be a list of 1 to " + std::to_string(kMaxTextLines) + " texts";
        std::vector<std::string> texts;
        std::size_t bytes = 0;
        for (const auto& l : lines) {
            if (!l.is_string()) return "\"lines\" must be a list of texts";
            texts.push_back(l.get<std::string>());
            bytes += texts.back().size();
        }
        if (bytes > kMaxTextBytes) return "\"lines\" are too long (at most 65535 bytes in all)";
        textNodeLines(texts, s);
        return {};
    }
    case DIMENSION_ELM: {
        if (!(problem = readPoints(e, 2, 2, &s->points)).empty()) return "a dimension has 2 measured \"points\"";
        if (!(problem = readDouble(e, "offset", &s->offset)).empty()) return problem;
        if (!(problem = readText(e, "text", 1000, &s->text)).empty()) return problem;
        if (!(problem = readInt(e, "precision", 0, 12, &s->precision)).empty()) return problem;
        const double length = std::hypot(s->points[1].x - s->points[0].x, s->points[1].y - s->points[0].y);
        if (!(length > 0)) return "the two measured points of a dimension must differ";
        s->height = 0.1 * length;
        if (!(problem = readPositive(e, "height", &s->height)).empty()) return problem;
        s->arrow = s->height;
        if (!(problem = readPositive(e, "arrow", &s->arrow)).empty()) return problem;
        if (!(problem = readText(e, "font", 256, &s->font)).empty()) return problem;
        return {};
    }
    case SHARED_CELL_ELM: {
        if (!(problem = readText(e, "name", 256, &s->name)).empty()) return problem;
        if (!definitions.sharedCells.count(s->name)) return "no shared cell definition \"" + s->name + "\"";
        if (!(problem = readOrigin(e, true, s)).empty()) return problem;
        if (!(problem = readDouble(e, "rotation", &s->rotation)).empty()) return problem;
        if (e.contains("scale")) {
            const json& sc = e["scale"];
            if (finite(sc)) {
                s->scaleX = s->scaleY = sc.get<double>();
            } else if (sc.is_array() && sc.size() == 2 && finite(sc[0]) && finite(sc[1])) {
                s->scaleX = sc[0].get<double>();
                s->scaleY = sc[1].get<double>();
            } else {
                return "\"scale\" must be a number or [sx, sy]";
            }
            if (s->scaleX == 0 || s->scaleY == 0) return "\"scale\" must not be 0";
        }
        return {};
    }
    case MULTILINE_ELM: {
        if (!(problem = readPoints(e, 2, std::size_t(MAX_VERTICES), &s->points)).empty()) return problem;
        if (!(problem = readBool(e, "startCap", &s->startCap)).empty()) return problem;
        if (!(problem = readBool(e, "endCap", &s->endCap)).empty()) return problem;
        const json& lines = e.value("lines", json());
        if (!lines.is_array() || lines.empty() || lines.size() > kMaxMlines)
            return "\"lines\" must be a list of 1 to 16 offset lines";
        for (const auto& l : lines) {
            MlineLine m{0, s->color, s->weight, s->style};
            if (!l.is_object()) return "\"lines\" entries must be objects";
            if (!(problem = readDouble(l, "offset", &m.offset)).empty()) return "lines: " + problem;
            if (!(problem = readInt(l, "color", 0, 255, &m.color)).empty()) return "lines: " + problem;
            if (!(problem = readInt(l, "weight", 0, 31, &m.weight)).empty()) return "lines: " + problem;
            if (!(problem = readInt(l, "style", 0, 2147483647LL, &m.style)).empty()) return "lines: " + problem;
            s->mlines.push_back(m);
        }
        return {};
    }
    default:
        return "unknown type";
    }
}

json patternJson(const Pattern& p) {
    return {{"angle", p.angle}, {"spacing", p.spacing}, {"color", p.color}, {"weight", p.weight}};
}

}  // namespace

std::string readElement(const json& e, const Definitions& definitions, int depth, Element* s) {
    if (!e.is_object()) return "must be an object";
    if (depth > kMaxDepth) return "nested too deep (at most " + std::to_string(kMaxDepth) + " levels)";
    std::string problem;
    if (!(problem = readType(e, &s->type)).empty()) return problem;
    if (!(problem = readSymbology(e, s)).empty()) return problem;
    if (!(problem = readKind(e, definitions, depth, s)).empty()) return problem;
    if (s->pattern && !isClosed(*s) && !(s->type == CELL_HEADER_ELM && s->groupedHole))
        return "a \"pattern\" needs a closed element or a grouped-hole cell";
    return {};
}

std::string readDefinitions(const json& doc, Definitions* out) {
    if (doc.contains("lineStyles")) {
        const json& list = doc["lineStyles"];
        if (!list.is_array() || list.size() > 1000) return "\"lineStyles\" must be a list of at most 1000 styles";
        for (std::size_t i = 0; i < list.size(); ++i) {
            const json& l = list[i];
            const std::string at = "line style " + std::to_string(i) + ": ";
            int code = -1;
            if (!l.is_object() || !l.contains("code")) return at + "must be an object with a \"code\"";
            std::string problem = readInt(l, "code", 8, 2147483647LL, &code);
            if (!problem.empty()) return at + problem;
            LineStyleDef def;
            if (!(problem = readText(l, "name", 256, &def.name)).empty()) return at + problem;
            const json& dashes = l.value("dashes", json());
            if (!dashes.is_array() || dashes.empty() || dashes.size() > 32)
                return at + "\"dashes\" must be a list of 1 to 32 lengths";
            double total = 0;
            for (const auto& d : dashes) {
                if (!finite(d) || d.get<double>() < 0) return at + "\"dashes\" must be lengths of 0 or more";
                def.dashes.push_back(d.get<double>());
                total += def.dashes.back();
            }
            if (!(total > 0)) return at + "\"dashes\" must not all be 0";
            if (!(problem = readDouble(l, "width", &def.width)).empty() || def.width < 0)
                return at + "\"width\" must be a length of 0 or more";
            if (out->lineStyles.count(code)) return at + "code " + std::to_string(code) + " defined twice";
            out->lineStyles[code] = std::move(def);
        }
    }
    if (doc.contains("sharedCells")) {
        const json& cells = doc["sharedCells"];
        if (!cells.is_object() || cells.size() > 10000) return "\"sharedCells\" must be an object of definitions";
        // A definition may place other definitions; they are read in an order that has each one's own
        // definitions first, so that a definition placing itself (directly or round a loop) is refused.
        std::set<std::string> pending;
        for (auto it = cells.begin(); it != cells.end(); ++it) pending.insert(it.key());
        while (!pending.empty()) {
            bool progress = false;
            std::string lastProblem;
            for (auto it = pending.begin(); it != pending.end();) {
                const json& d = cells[*it];
                Element def;
                def.type = CELL_HEADER_ELM;
                def.name = *it;
                std::string problem = d.is_object() ? readComponents(d, *out, 0, &def) : "must be an object";
                if (problem.empty()) problem = readOrigin(d, false, &def);
                if (def.points.empty()) def.points.assign(1, DPoint3d{});
                if (problem.empty()) {
                    out->sharedCells[*it] = std::move(def);
                    it = pending.erase(it);
                    progress = true;
                } else {
                    lastProblem = "shared cell \"" + *it + "\": " + problem;
                    ++it;
                }
            }
            if (!progress) return lastProblem;
        }
    }
    return {};
}

bool parseDesign(const json& doc, const std::string& folder, ElementState* out, std::string* problem) {
    ElementState st;
    std::string why = readDefinitions(doc, &st.definitions);
    if (!why.empty()) {
        *problem = why;
        return false;
    }
    if (doc.contains("elements")) {
        const json& list = doc["elements"];
        if (!list.is_array()) {
            *problem = "\"elements\" must be a list";
            return false;
        }
        if (list.size() > kMaxElements) {
            *problem =
                "too many elements (" + std::to_string(list.size()) + ", at most " + std::to_string(kMaxElements) + ")";
            return false;
        }
        std::set<int> seen;
        for (std::size_t i = 0; i < list.size(); ++i) {
            DesignElement element;
            const json& e = list[i];
            if (!e.is_object() || !e.contains("id") || !e["id"].is_number_integer() || e["id"].get<long long>() < 1 ||
                e["id"].get<long long>() > 1000000000)
                why = "\"id\" must be a whole number from 1";
            else
                why = readElement(e, st.definitions, 0, &element.shape);
            if (!why.empty()) {
                *problem = "element " + std::to_string(i) + ": " + why;
                return false;
            }
            element.id = int(e["id"].get<long long>());
            if (!seen.insert(element.id).second) {
                *problem = "element " + std::to_string(i) + ": id " + std::to_string(element.id) + " used twice";
                return false;
            }
            element.filePos = st.nextFilePos++;
            st.nextId = std::max(st.nextId, element.id + 1);
            st.elements.emplace(element.filePos, std::move(element));
        }
    }
    if (doc.contains("fence")) {
        const json& fence = doc["fence"];
        const json& points = fence.is_object() ? fence.value("points", json()) : json();
        if (!points.is_array() || points.size() < 3 || points.size() > std::size_t(MAX_VERTICES)) {
            *problem = "\"fence\" must be an object with 3 to 5000 \"points\"";
            return false;
        }
        std::vector<DPoint3d> polygon;
        for (const auto& v : points) {
            DPoint3d p;
            if (!readPoint(v, &p)) {
                *problem = "\"fence\" points must be [x, y] or [x, y, z]";
                return false;
            }
            polygon.push_back(p);
        }
        if (fence.contains("view") && (!fence["view"].is_number_integer() || fence["view"].get<long long>() < 0 ||
                                       fence["view"].get<long long>() > 7)) {
            *problem = "\"fence\" \"view\" must be a view number 0-7";
            return false;
        }
        st.fence = std::move(polygon);
        st.fenceView = int(fence.value("view", 0LL));
    }
    if (doc.contains("selection")) {
        const json& sel = doc["selection"];
        if (!sel.is_array() || sel.size() > kMaxElements) {
            *problem = "\"selection\" must be a list of element ids";
            return false;
        }
        for (const auto& v : sel) {
            if (!v.is_number_integer() || v.get<long long>() < 1 || v.get<long long>() > 1000000000) {
                *problem = "\"selection\" must be a list of element ids";
                return false;
            }
            st.selection.push_back(int(v.get<long long>()));
        }
    }
    why = loadReferences(doc, folder, &st);
    if (!why.empty()) {
        *problem = why;
        return false;
    }
    *out = std::move(st);
    return true;
}

json elementJson(const Element& s) {
    json j = {{"type", typeName(s.type)}};
    switch (s.type) {
    case ARC_ELM:
    case ELLIPSE_ELM:
        j["center"] = pointJson(s.center);
        j["axes"] = {s.primary, s.secondary};
        j["rotation"] = s.rotation;
        if (s.type == ARC_ELM) {
            j["start"] = s.start;
            j["sweep"] = s.sweep;
        }
        break;
    case CELL_HEADER_ELM: {
        j["name"] = s.name;
        if (!s.points.empty()) j["origin"] = pointJson(s.points[0]);
        if (s.groupedHole) j["groupedHole"] = true;
        json list = json::array();
        for (const Element& c : s.components) list.push_back(elementJson(c));
        j["components"] = std::move(list);
        break;
    }
    case TEXT_ELM:
    case TEXT_NODE_ELM: {
        j["origin"] = pointJson(s.points.empty() ? DPoint3d{} : s.points[0]);
        j["height"] = s.height;
        j["widthFactor"] = s.widthFactor;
        j["rotation"] = s.rotation;
        j["justification"] = kJustifications[s.justification.horizontal][s.justification.vertical];
        if (!s.font.empty()) j["font"] = s.font;
        if (s.type == TEXT_ELM) {
            j["text"] = s.text;
        } else {
            json lines = json::array();
            for (const Element& c : s.components) lines.push_back(c.text);
            j["lines"] = std::move(lines);
            j["lineSpacing"] = s.lineSpacing;
        }
        break;
    }
    case DIMENSION_ELM:
        j["points"] = {pointJson(s.points[0]), pointJson(s.points[1])};
        j["offset"] = s.offset;
        if (!s.text.empty()) j["text"] = s.text;
        j["precision"] = s.precision;
        j["height"] = s.height;
        j["arrow"] = s.arrow;
        if (!s.font.empty()) j["font"] = s.font;
        break;
    case SHARED_CELL_ELM:
        j["name"] = s.name;
        j["origin"] = pointJson(s.points.empty() ? DPoint3d{} : s.points[0]);
        j["scale"] = {s.scaleX, s.scaleY};
        j["rotation"] = s.rotation;
        break;
    case MULTILINE_ELM: {
        json points = json::array();
        for (const DPoint3d& p : s.points) points.push_back(pointJson(p));
        j["points"] = std::move(points);
        json lines = json::array();
        for (const MlineLine& m : s.mlines)
            lines.push_back({{"offset", m.offset}, {"color", m.color}, {"weight", m.weight}, {"style", m.style}});
        j["lines"] = std::move(lines);
        if (s.startCap) j["startCap"] = true;
        if (s.endCap) j["endCap"] = true;
        break;
    }
    default: {
        json points = json::array();
        for (const DPoint3d& p : s.points) points.push_back(pointJson(p));
        j["points"] = std::move(points);
    }
    }
    j["color"] = s.color;
    j["weight"] = s.weight;
    j["style"] = s.style;
    j["level"] = s.level;
    if (isClosed(s)) {
        j["filled"] = s.filled;
        if (s.filled) j["fillColor"] = s.fillColor;
    }
    if (s.hole) j["hole"] = true;
    if (s.skip) j["skipBit"] = true;
    if (s.pattern) j["pattern"] = patternJson(*s.pattern);
    return j;
}

json shapeJson(const Shape& s) { return elementJson(s); }

void definitionsInto(const Definitions& definitions, json& doc) {
    if (!definitions.sharedCells.empty() || doc.contains("sharedCells")) {
        json cells = json::object();
        for (const auto& [name, def] : definitions.sharedCells) {
            json list = json::array();
            for (const Element& c : def.components) list.push_back(elementJson(c));
            cells[name] = {{"origin", pointJson(def.points.empty() ? DPoint3d{} : def.points[0])},
                           {"components", std::move(list)}};
        }
        doc["sharedCells"] = std::move(cells);
    }
    if (!definitions.lineStyles.empty() || doc.contains("lineStyles")) {
        json styles = json::array();
        for (const auto& [code, def] : definitions.lineStyles)
            styles.push_back({{"code", code}, {"name", def.name}, {"dashes", def.dashes}, {"width", def.width}});
        doc["lineStyles"] = std::move(styles);
    }
}

void saveInto(json& doc) {
    const ElementState& st = elementState();
    json list = json::array();
    for (const auto& [pos, element] : st.elements) {
        json j = elementJson(element.shape);
        j["id"] = element.id;
        list.push_back(std::move(j));
    }
    if (!list.empty() || doc.contains("elements")) doc["elements"] = std::move(list);
    definitionsInto(st.definitions, doc);
    if (st.fence) {
        json points = json::array();
        for (const DPoint3d& p : *st.fence) points.push_back({p.x, p.y});
        doc["fence"] = {{"points", points}, {"view", st.fenceView}};
    } else {
        doc.erase("fence");
    }
    if (!st.selection.empty() || doc.contains("selection")) doc["selection"] = st.selection;
}

}  // namespace subhost::elements
