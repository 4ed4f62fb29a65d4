// The design's elements: reading and writing them in the design description,
// the element record the add-on sees, stroking, offsets and transforms,
// descriptors, undoable deletes and modifications.
#include "subhost/elements.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host/mdlgeom.h"
#include "subhost/state.h"
#include "subhost/undo.h"

namespace subhost::elements {
namespace {

using nlohmann::json;

constexpr double kDegrees = 3.14159265358979323846 / 180.0;

struct TypeName {
    int type;
    const char* name;
};
constexpr TypeName kTypeNames[] = {{LINE_ELM, "line"},
                                   {LINE_STRING_ELM, "lineString"},
                                   {SHAPE_ELM, "shape"},
                                   {ARC_ELM, "arc"},
                                   {ELLIPSE_ELM, "ellipse"}};

const char* typeName(int type) {
    for (const auto& t : kTypeNames)
        if (t.type == type) return t.name;
    return "unknown";
}

bool isCurve(int type) { return type == ARC_ELM || type == ELLIPSE_ELM; }

bool finite(const json& v) { return v.is_number() && std::isfinite(v.get<double>()); }

// Reads [x, y] or [x, y, z]; false when it is not that.
bool readPoint(const json& v, DPoint3d* p) {
    if (!v.is_array() || v.size() < 2 || v.size() > 3) return false;
    for (const auto& c : v)
        if (!finite(c)) return false;
    *p = DPoint3d{v[0].get<double>(), v[1].get<double>(), v.size() == 3 ? v[2].get<double>() : 0.0};
    return true;
}

// Reads an integer key within [low, high] into *out (kept when absent); an empty text or the problem.
std::string readInt(const json& e, const char* key, int low, int high, int* out) {
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

// Checks one "elements" entry and reads it; an empty text when good, else what is wrong.
std::string readElement(const json& e, DesignElement* out) {
    if (!e.is_object()) return "must be an object";
    if (!e.contains("id") || !e["id"].is_number_integer() || e["id"].get<long long>() < 1 ||
        e["id"].get<long long>() > 1000000000)
        return "\"id\" must be a whole number from 1";
    out->id = int(e["id"].get<long long>());
    if (!e.contains("type") || !e["type"].is_string()) return "\"type\" must be a text";
    const std::string type = e["type"].get<std::string>();
    Shape& s = out->shape;
    s.type = 0;
    for (const auto& t : kTypeNames)
        if (type == t.name) s.type = t.type;
    if (s.type == 0) return "unknown type \"" + type + "\" (line, lineString, shape, arc or ellipse)";
    std::string problem;
    if (!(problem = readInt(e, "color", 0, 255, &s.color)).empty()) return problem;
    if (!(problem = readInt(e, "weight", 0, 31, &s.weight)).empty()) return problem;
    if (!(problem = readInt(e, "style", 0, 7, &s.style)).empty()) return problem;
    if (!(problem = readInt(e, "level", -1000000, 1000000, &s.level)).empty()) return problem;
    if (!(problem = readInt(e, "fillColor", 0, 255, &s.fillColor)).empty()) return problem;
    if (e.contains("filled")) {
        if (!e["filled"].is_boolean()) return "\"filled\" must be true or false";
        s.filled = e["filled"].get<bool>();
    }
    if (isCurve(s.type)) {
        if (!e.contains("center") || !readPoint(e["center"], &s.center))
            return "\"center\" must be [x, y] or [x, y, z]";
        const json& axes = e.value("axes", json());
        if (!axes.is_array() || axes.size() != 2 || !finite(axes[0]) || !finite(axes[1]) ||
            axes[0].get<double>() <= 0 || axes[1].get<double>() <= 0)
            return "\"axes\" must be two positive numbers";
        s.primary = axes[0].get<double>();
        s.secondary = axes[1].get<double>();
        if (!(problem = readDouble(e, "rotation", &s.rotation)).empty()) return problem;
        if (!(problem = readDouble(e, "start", &s.start)).empty()) return problem;
        if (!(problem = readDouble(e, "sweep", &s.sweep)).empty()) return problem;
        if (s.type == ELLIPSE_ELM) s.start = 0, s.sweep = 360;
        if (std::fabs(s.sweep) > 360) return "\"sweep\" must be within -360 and 360 degrees";
        return {};
    }
    const json& points = e.value("points", json());
    if (!points.is_array()) return "\"points\" must be a list of points";
    if (points.size() > std::size_t(MAX_VERTICES))
        return "too many points (" + std::to_string(points.size()) + ", at most " + std::to_string(MAX_VERTICES) + ")";
    const std::size_t least = s.type == SHAPE_ELM ? 3 : 2;
    if (points.size() < least || (s.type == LINE_ELM && points.size() != 2))
        return s.type == LINE_ELM ? "a line has 2 points" : "too few points (at least " + std::to_string(least) + ")";
    for (std::size_t i = 0; i < points.size(); ++i) {
        DPoint3d p;
        if (!readPoint(points[i], &p)) return "point " + std::to_string(i) + " must be [x, y] or [x, y, z]";
        s.points.push_back(p);
    }
    if (s.type == SHAPE_ELM) closeShape(s.points);
    return {};
}

// Adds an element at the end of the model; its file position.
std::uint32_t append(ElementState& st, DesignElement element) {
    element.filePos = st.nextFilePos++;
    st.nextId = std::max(st.nextId, element.id + 1);
    const std::uint32_t pos = element.filePos;
    st.elements.emplace(pos, std::move(element));
    return pos;
}

void elementEvent(const char* what, int id) { recordEvent({{"event", what}, {"id", id}}); }

// The element at filePos of the active model; null when there is none.
DesignElement* findElement(std::uint32_t filePos) {
    auto& els = elementState().elements;
    const auto it = els.find(filePos);
    return it == els.end() ? nullptr : &it->second;
}

bool modelWritable(DgnModelRefP model) {
    const auto& design = host().design;
    return design.open && !design.model.readOnly && (model == nullptr || model == &host().design.model);
}

// Puts element back at its file position (undo of a delete, redo of a copy).
void restore(const DesignElement& element) { elementState().elements[element.filePos] = element; }

void applyToPoint(const Transform& t, DPoint3d* p) {
    const DPoint3d q = *p;
    p->x = t.form3d[0][0] * q.x + t.form3d[0][1] * q.y + t.form3d[0][2] * q.z + t.form3d[0][3];
    p->y = t.form3d[1][0] * q.x + t.form3d[1][1] * q.y + t.form3d[1][2] * q.z + t.form3d[1][3];
    p->z = t.form3d[2][0] * q.x + t.form3d[2][1] * q.y + t.form3d[2][2] * q.z + t.form3d[2][3];
}

// out = a * b on the 3 x 3 part; translation of a kept (b acts in a's own axes first).
Transform multiply(const Transform& a, const double b[3][3]) {
    Transform out{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k) out.form3d[r][c] += a.form3d[r][k] * b[k][c];
        out.form3d[r][3] = a.form3d[r][3];
    }
    return out;
}

}  // namespace

void closeShape(std::vector<DPoint3d>& points) {
    if (points.empty()) return;
    const DPoint3d& a = points.front();
    const DPoint3d& b = points.back();
    if ((a.x != b.x || a.y != b.y || a.z != b.z) && points.size() < std::size_t(MAX_VERTICES)) points.push_back(a);
}

ElementState& elementState() {
    static ElementState state;
    return state;
}

void clear() { elementState() = ElementState{}; }

bool parseDesign(const json& doc, ElementState* out, std::string* problem) {
    ElementState st;
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
        std::map<int, bool> seen;
        for (std::size_t i = 0; i < list.size(); ++i) {
            DesignElement element;
            const std::string why = readElement(list[i], &element);
            if (!why.empty()) {
                *problem = "element " + std::to_string(i) + ": " + why;
                return false;
            }
            if (seen[element.id]) {
                *problem = "element " + std::to_string(i) + ": id " + std::to_string(element.id) + " used twice";
                return false;
            }
            seen[element.id] = true;
            append(st, std::move(element));
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
    *out = std::move(st);
    return true;
}

json shapeJson(const Shape& s) {
    json j = {{"type", typeName(s.type)}};
    if (isCurve(s.type)) {
        j["center"] = {s.center.x, s.center.y, s.center.z};
        j["axes"] = {s.primary, s.secondary};
        j["rotation"] = s.rotation;
        if (s.type == ARC_ELM) {
            j["start"] = s.start;
            j["sweep"] = s.sweep;
        }
    } else {
        json points = json::array();
        for (const DPoint3d& p : s.points) points.push_back({p.x, p.y, p.z});
        j["points"] = std::move(points);
    }
    j["color"] = s.color;
    j["weight"] = s.weight;
    j["style"] = s.style;
    j["level"] = s.level;
    if (s.type == SHAPE_ELM || s.type == ELLIPSE_ELM) {
        j["filled"] = s.filled;
        if (s.filled) j["fillColor"] = s.fillColor;
    }
    return j;
}

void saveInto(json& doc) {
    const ElementState& st = elementState();
    json list = json::array();
    for (const auto& [pos, element] : st.elements) {
        json j = shapeJson(element.shape);
        j["id"] = element.id;
        list.push_back(std::move(j));
    }
    if (!list.empty() || doc.contains("elements")) doc["elements"] = std::move(list);
    if (st.fence) {
        json points = json::array();
        for (const DPoint3d& p : *st.fence) points.push_back({p.x, p.y});
        doc["fence"] = {{"points", points}, {"view", st.fenceView}};
    } else {
        doc.erase("fence");
    }
    if (!st.selection.empty() || doc.contains("selection")) doc["selection"] = st.selection;
}

std::vector<DPoint3d> stroke(const Shape& s, double tolerance) {
    if (!isCurve(s.type)) {
        std::vector<DPoint3d> points = s.points;
        if (s.type == SHAPE_ELM) closeShape(points);
        return points;
    }
    const double radius = std::max(s.primary, s.secondary);
    if (!(tolerance > 0)) tolerance = radius * 1e-3;
    // The chord of a step of angle a leaves the curve by at most r (1 - cos(a / 2)).
    const double ratio = radius > 0 ? std::min(1.0, tolerance / radius) : 1.0;
    double step = 2.0 * std::acos(1.0 - ratio);
    if (!(step > 0)) step = 1e-3;
    const double sweep = s.sweep * kDegrees;
    const int segments = std::clamp(int(std::ceil(std::fabs(sweep) / step)), 4, MAX_VERTICES - 1);
    const double c = std::cos(s.rotation * kDegrees), sn = std::sin(s.rotation * kDegrees);
    std::vector<DPoint3d> points;
    points.reserve(std::size_t(segments) + 1);
    for (int i = 0; i <= segments; ++i) {
        const double t = s.start * kDegrees + sweep * i / segments;
        const double u = s.primary * std::cos(t), v = s.secondary * std::sin(t);
        points.push_back(DPoint3d{s.center.x + u * c - v * sn, s.center.y + u * sn + v * c, s.center.z});
    }
    if (s.type == ELLIPSE_ELM || std::fabs(s.sweep) >= 360) points.back() = points.front();
    return points;
}

bool insidePolygon(const std::vector<DPoint3d>& polygon, const DPoint3d& p) {
    const std::size_t n = polygon.size();
    if (n < 3) return false;
    bool inside = false;
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const DPoint3d& a = polygon[i];
        const DPoint3d& b = polygon[j];
        // On the edge counts as inside.
        const double cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
        const double scale = std::max({std::fabs(b.x - a.x), std::fabs(b.y - a.y), 1.0});
        if (std::fabs(cross) <= 1e-9 * scale * scale && p.x >= std::min(a.x, b.x) - 1e-9 &&
            p.x <= std::max(a.x, b.x) + 1e-9 && p.y >= std::min(a.y, b.y) - 1e-9 && p.y <= std::max(a.y, b.y) + 1e-9)
            return true;
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside;
}

Shape fromRecord(const MSElement& e) {
    Shape s;
    s.type = e.type;
    s.color = e.color;
    s.weight = e.weight;
    s.style = e.style;
    s.level = e.level;
    s.filled = e.filled;
    s.fillColor = e.fillColor;
    if (isCurve(e.type)) {
        s.center = e.center;
        s.primary = e.primary;
        s.secondary = e.secondary;
        s.rotation = e.rotation;
        s.start = e.type == ARC_ELM ? e.start : 0;
        s.sweep = e.type == ARC_ELM ? e.sweep : 360;
    } else {
        const int n = std::clamp(e.numPoints, 0, MAX_VERTICES);
        s.points.assign(e.points, e.points + n);
    }
    return s;
}

void toRecord(const Shape& s, MSElement* e) {
    e->type = s.type;
    e->color = s.color;
    e->weight = s.weight;
    e->style = s.style;
    e->level = s.level;
    e->filled = s.filled;
    e->fillColor = s.fillColor;
    e->numPoints = int(std::min(s.points.size(), std::size_t(MAX_VERTICES)));
    std::copy(s.points.begin(), s.points.begin() + e->numPoints, e->points);
    e->center = s.center;
    e->primary = s.primary;
    e->secondary = s.secondary;
    e->rotation = s.rotation;
    e->start = s.start;
    e->sweep = s.sweep;
}

bool validRecord(const MSElement& e) {
    switch (e.type) {
    case LINE_ELM:
        return e.numPoints == 2;
    case LINE_STRING_ELM:
        return e.numPoints >= 2 && e.numPoints <= MAX_VERTICES;
    case SHAPE_ELM:
        return e.numPoints >= 3 && e.numPoints <= MAX_VERTICES;
    case ARC_ELM:
    case ELLIPSE_ELM:
        return std::isfinite(e.primary) && std::isfinite(e.secondary) && std::isfinite(e.sweep);
    default:
        return false;
    }
}

void transformShape(Shape& s, const Transform& t) {
    for (DPoint3d& p : s.points) applyToPoint(t, &p);
    if (!isCurve(s.type)) return;
    applyToPoint(t, &s.center);
    // The axes are the images of the two axis vectors; a mirroring turns the sweep round.
    const double c = std::cos(s.rotation * kDegrees), sn = std::sin(s.rotation * kDegrees);
    const double ax = t.form3d[0][0] * c + t.form3d[0][1] * sn, ay = t.form3d[1][0] * c + t.form3d[1][1] * sn;
    const double bx = -t.form3d[0][0] * sn + t.form3d[0][1] * c, by = -t.form3d[1][0] * sn + t.form3d[1][1] * c;
    s.primary *= std::hypot(ax, ay);
    s.secondary *= std::hypot(bx, by);
    s.rotation = std::atan2(ay, ax) / kDegrees;
    if (ax * by - ay * bx < 0) {
        s.start = -s.start;
        s.sweep = -s.sweep;
    }
}

}  // namespace subhost::elements

using namespace subhost;
using namespace subhost::elements;

extern "C" {

int mdlShape_create(MSElement* element, const MSElement* templateElement, const DPoint3d* points, int count, int fill) {
    if (!element || !points || count < 3 || count > MAX_VERTICES) return ERROR;
    Shape s;
    if (templateElement) s = fromRecord(*templateElement);
    s.type = SHAPE_ELM;
    s.points.assign(points, points + count);
    closeShape(s.points);
    if (s.points.size() > std::size_t(MAX_VERTICES)) return ERROR;
    s.filled = fill != 0;
    toRecord(s, element);
    return SUCCESS;
}

int mdlElement_setSymbology(MSElement* element, const int* color, const int* weight, const int* style) {
    if (!element) return ERROR;
    if ((color && (*color < 0 || *color > 255)) || (weight && (*weight < 0 || *weight > 31)) ||
        (style && (*style < 0 || *style > 7)))
        return ERROR;
    if (color) element->color = *color;
    if (weight) element->weight = *weight;
    if (style) element->style = *style;
    return SUCCESS;
}

std::uint32_t mdlElement_getFilePos(int /*which*/) { return elementState().processing; }

int mdlElement_offset(MSElement* element, const DPoint3d* delta) {
    if (!element || !delta) return ERROR;
    Transform t{};
    mdlTMatrix_getIdentity(&t);
    t.form3d[0][3] = delta->x;
    t.form3d[1][3] = delta->y;
    t.form3d[2][3] = delta->z;
    return mdlElement_transform(element, &t);
}

int mdlElement_transform(MSElement* element, const Transform* transform) {
    if (!element || !transform || !validRecord(*element)) return ERROR;
    Shape s = fromRecord(*element);
    transformShape(s, *transform);
    toRecord(s, element);
    return SUCCESS;
}

int mdlElmdscr_new(MSElementDescr** descriptor, MSElementDescr* header, const MSElement* element) {
    if (!descriptor || !element || !validRecord(*element)) return ERROR;
    if (header) {
        // One element a descriptor: a header is replaced by the element.
        static_cast<Shape&>(*header) = fromRecord(*element);
        *descriptor = header;
        return SUCCESS;
    }
    auto made = std::make_unique<MSElementDescr>();
    static_cast<Shape&>(*made) = fromRecord(*element);
    *descriptor = made.release();
    return SUCCESS;
}

int mdlElmdscr_stroke(DPoint3d** points, int* count, const MSElementDescr* descriptor, double tolerance) {
    if (!points || !count || !descriptor) return ERROR;
    *points = nullptr;
    *count = 0;
    const std::vector<DPoint3d> stroked = stroke(*descriptor, tolerance);
    if (stroked.empty()) return ERROR;
    auto* buffer = static_cast<DPoint3d*>(std::malloc(stroked.size() * sizeof(DPoint3d)));
    if (!buffer) return ERROR;
    std::memcpy(buffer, stroked.data(), stroked.size() * sizeof(DPoint3d));
    *points = buffer;
    *count = int(stroked.size());
    return SUCCESS;
}

int mdlElmdscr_undoableDelete(MSElementDescr* /*descriptor*/, std::uint32_t filePos, int /*display*/) {
    if (!modelWritable(nullptr)) return ERROR;
    DesignElement* found = findElement(filePos);
    if (!found) return ERROR;
    const DesignElement element = *found;
    elementState().elements.erase(filePos);
    elementEvent("elementDeleted", element.id);
    undo::record([element] { restore(element); }, [pos = element.filePos] { elementState().elements.erase(pos); },
                 "delete element");
    return SUCCESS;
}

int mdlModify_elementSingle(DgnModelRefP model, std::uint32_t filePos, int modifyOption, int /*displayOption*/,
                            ElementModifyFunc func, void* /*params*/, int /*offsetToNext*/) {
    if (!modelWritable(model) || !func || (modifyOption != MODIFY_COPY && modifyOption != MODIFY_REPLACE)) return ERROR;
    const DesignElement* found = findElement(filePos);
    if (!found) return ERROR;
    const DesignElement before = *found;
    auto record = std::make_unique<MSElement>();
    toRecord(before.shape, record.get());
    // Bit 0 of the function's status: the element was changed and is stored; 0 leaves everything as it was.
    if ((func(record.get()) & 1) == 0) return SUCCESS;
    if (!validRecord(*record)) return ERROR;
    ElementState& st = elementState();
    if (modifyOption == MODIFY_REPLACE) {
        DesignElement after = before;
        after.shape = fromRecord(*record);
        st.elements[filePos] = after;
        elementEvent("elementChanged", after.id);
        undo::record([before] { restore(before); }, [after] { restore(after); }, "modify element");
        return SUCCESS;
    }
    DesignElement copy;
    copy.id = st.nextId;
    copy.shape = fromRecord(*record);
    const std::uint32_t pos = append(st, std::move(copy));
    const DesignElement added = st.elements[pos];
    elementEvent("elementAdded", added.id);
    undo::record([pos] { elementState().elements.erase(pos); }, [added] { restore(added); }, "copy element");
    return SUCCESS;
}

void mdlTMatrix_getIdentity(Transform* transform) {
    if (!transform) return;
    *transform = Transform{};
    for (int i = 0; i < 3; ++i) transform->form3d[i][i] = 1.0;
}

void mdlTMatrix_rotateByAngles(Transform* out, const Transform* in, double xRadians, double yRadians, double zRadians) {
    if (!out || !in) return;
    const double cx = std::cos(xRadians), sx = std::sin(xRadians);
    const double cy = std::cos(yRadians), sy = std::sin(yRadians);
    const double cz = std::cos(zRadians), sz = std::sin(zRadians);
    // Turn about x, then y, then z: Rz * Ry * Rx, applied in the input's own axes.
    const double r[3][3] = {{cz * cy, cz * sy * sx - sz * cx, cz * sy * cx + sz * sx},
                            {sz * cy, sz * sy * sx + cz * cx, sz * sy * cx - cz * sx},
                            {-sy, cy * sx, cy * cx}};
    *out = multiply(*in, r);
}

void mdlTMatrix_scale(Transform* out, const Transform* in, double x, double y, double z) {
    if (!out || !in) return;
    const double s[3][3] = {{x, 0, 0}, {0, y, 0}, {0, 0, z}};
    *out = multiply(*in, s);
}

}  // extern "C"
