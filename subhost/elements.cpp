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

bool isCurve(int type) { return type == ARC_ELM || type == ELLIPSE_ELM; }

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

bool isSimple(int type) {
    return type == LINE_ELM || type == LINE_STRING_ELM || type == SHAPE_ELM || type == ARC_ELM || type == ELLIPSE_ELM;
}

bool isClosed(const Element& e) { return e.type == SHAPE_ELM || e.type == ELLIPSE_ELM; }

std::uint32_t headerWord(const Element& e, bool component) {
    return (std::uint32_t(e.type) & HEADER_TYPE_MASK) | (component ? HEADER_COMPLEX_BIT : 0u) |
           (e.skip ? HEADER_SKIP_BIT : 0u);
}

const Definitions& definitionsOf(DgnModelRefP model) {
    static const Definitions none;
    ElementState& st = elementState();
    if (model == nullptr || model == &host().design.model) return st.definitions;
    for (const auto& r : st.references)
        if (&r->model == model) return r->definitions;
    return none;
}

const std::map<std::uint32_t, DesignElement>* elementsOf(DgnModelRefP model) {
    ElementState& st = elementState();
    if (model == &host().design.model) return &st.elements;
    for (const auto& r : st.references)
        if (&r->model == model) return &r->elements;
    return nullptr;
}

std::unique_ptr<MSElementDescr> chainOf(std::vector<Element> elements) {
    std::unique_ptr<MSElementDescr> head;
    MSElementDescr* last = nullptr;
    for (Element& e : elements) {
        auto d = std::make_unique<MSElementDescr>(std::move(e));
        MSElementDescr* raw = d.get();
        if (last)
            last->next = std::move(d);
        else
            head = std::move(d);
        last = raw;
    }
    return head;
}

ElementState& elementState() {
    static ElementState state;
    return state;
}

void clear() { elementState() = ElementState{}; }

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

namespace {

// The image of the direction (x, y) under the 2-d part of t.
DPoint3d imageOf(const Transform& t, double x, double y) {
    return DPoint3d{t.form3d[0][0] * x + t.form3d[0][1] * y, t.form3d[1][0] * x + t.form3d[1][1] * y, 0};
}

// The determinant of t's 2-d part (negative: t mirrors).
double determinant2d(const Transform& t) { return t.form3d[0][0] * t.form3d[1][1] - t.form3d[0][1] * t.form3d[1][0]; }

double directionOf(const DPoint3d& v) { return std::atan2(v.y, v.x) / kDegrees; }

// Arcs and ellipses: the axes are the images of the two axis vectors; a mirroring turns the sweep round.
void transformCurve(Shape& s, const Transform& t) {
    applyToPoint(t, &s.center);
    const double c = std::cos(s.rotation * kDegrees), sn = std::sin(s.rotation * kDegrees);
    const DPoint3d a = imageOf(t, c, sn), b = imageOf(t, -sn, c);
    s.primary *= std::hypot(a.x, a.y);
    s.secondary *= std::hypot(b.x, b.y);
    s.rotation = directionOf(a);
    if (a.x * b.y - a.y * b.x < 0) {
        s.start = -s.start;
        s.sweep = -s.sweep;
    }
}

// Text and text nodes: the baseline direction turns, the height follows the glyphs' up direction and the
// width factor the ratio of the two.
void transformText(Shape& s, const Transform& t) {
    const double c = std::cos(s.rotation * kDegrees), sn = std::sin(s.rotation * kDegrees);
    const DPoint3d along = imageOf(t, c, sn), up = imageOf(t, -sn, c);
    const double x = std::hypot(along.x, along.y), y = std::hypot(up.x, up.y);
    if (x > 0) s.rotation = directionOf(along);
    if (y > 0) {
        s.height *= y;
        s.lineSpacing *= y;
        s.widthFactor *= x / y;
    }
}

// Dimensions: the measured points move; the offset is where the image of the dimension line lies from the
// image of the measured points, and the sizes scale with the area.
void transformDimension(Shape& s, const Transform& t) {
    if (s.points.size() != 2) return;
    const DPoint3d p1 = s.points[0], p2 = s.points[1];
    const double length = std::hypot(p2.x - p1.x, p2.y - p1.y);
    DPoint3d q = p1;
    if (length > 0)
        q = DPoint3d{p1.x - (p2.y - p1.y) / length * s.offset, p1.y + (p2.x - p1.x) / length * s.offset, p1.z};
    for (DPoint3d& p : s.points) applyToPoint(t, &p);
    applyToPoint(t, &q);
    const DPoint3d a = s.points[0], b = s.points[1];
    const double newLength = std::hypot(b.x - a.x, b.y - a.y);
    if (newLength > 0) s.offset = ((b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x)) / newLength;
    const double scale = std::sqrt(std::fabs(determinant2d(t)));
    s.height *= scale;
    s.arrow *= scale;
}

// Shared cell instances: the instance's own turn and scale composed with t's 2-d part.
void transformInstance(Shape& s, const Transform& t) {
    const double c = std::cos(s.rotation * kDegrees), sn = std::sin(s.rotation * kDegrees);
    const DPoint3d x = imageOf(t, c * s.scaleX, sn * s.scaleX), y = imageOf(t, -sn * s.scaleY, c * s.scaleY);
    const double sx = std::hypot(x.x, x.y);
    if (!(sx > 0)) return;
    s.rotation = directionOf(x);
    s.scaleX = sx;
    s.scaleY = (x.x * y.y - x.y * y.x) / sx;  // signed: a mirroring is kept in the y scale
}

// A pattern's lines: their direction turns and their spacing follows the area across them.
void transformPattern(Pattern& p, const Transform& t) {
    const DPoint3d along = imageOf(t, std::cos(p.angle * kDegrees), std::sin(p.angle * kDegrees));
    const double length = std::hypot(along.x, along.y);
    if (!(length > 0)) return;
    p.angle = directionOf(along);
    p.spacing *= std::fabs(determinant2d(t)) / length;
}

}  // namespace

void transformShape(Shape& s, const Transform& t) {
    if (s.type == DIMENSION_ELM) {
        transformDimension(s, t);
        return;
    }
    for (DPoint3d& p : s.points) applyToPoint(t, &p);
    for (Element& c : s.components) transformShape(c, t);
    if (s.pattern) transformPattern(*s.pattern, t);
    if (isCurve(s.type)) transformCurve(s, t);
    if (s.type == TEXT_ELM || s.type == TEXT_NODE_ELM) transformText(s, t);
    if (s.type == SHARED_CELL_ELM) transformInstance(s, t);
    if (s.type == MULTILINE_ELM) {
        // Offsets scale with the area; a mirroring puts the left lines on the right.
        const double det = determinant2d(t), scale = std::sqrt(std::fabs(det));
        for (MlineLine& m : s.mlines) m.offset *= det < 0 ? -scale : scale;
    }
}

}  // namespace subhost::elements

using namespace subhost;
using namespace subhost::elements;

MSElementDescr::~MSElementDescr() {
    // A long chain (thousands of glyph outlines) is freed in a loop, not by nested destructors.
    std::unique_ptr<MSElementDescr> rest = std::move(next);
    while (rest) rest = std::move(rest->next);
}

namespace {

// Runs the function on a probe, a line string of the origin and the three unit points in element's
// symbology, and reads the affine transform it applied from where those points went: 1 with *t and *probe,
// 0 when the function stored nothing, -1 when it left no such line string.
int probeTransform(const Element& element, ElementModifyFunc func, Transform* t, MSElement* probe) {
    Element line;
    line.type = LINE_STRING_ELM;
    line.points = {DPoint3d{0, 0, 0}, DPoint3d{1, 0, 0}, DPoint3d{0, 1, 0}, DPoint3d{0, 0, 1}};
    line.color = element.color;
    line.weight = element.weight;
    line.style = element.style;
    line.level = element.level;
    toRecord(line, probe);
    if ((func(probe) & 1) == 0) return 0;
    if (probe->type != LINE_STRING_ELM || probe->numPoints != 4) return -1;
    const DPoint3d* p = probe->points;
    const auto coordinate = [](const DPoint3d& q, int r) { return r == 0 ? q.x : r == 1 ? q.y : q.z; };
    for (int r = 0; r < 3; ++r) {
        const double origin = coordinate(p[0], r);
        for (int c = 0; c < 3; ++c) t->form3d[r][c] = coordinate(p[c + 1], r) - origin;
        t->form3d[r][3] = origin;
    }
    for (const auto& row : t->form3d)
        for (double v : row)
            if (!std::isfinite(v)) return -1;
    return 1;
}

// A simple element through its record: the function changes the record itself. 1 with *out changed, 0 when
// the function stored nothing, -1 when it left a record that is no element.
int modifySimple(const Element& element, ElementModifyFunc func, Element* out) {
    auto record = std::make_unique<MSElement>();
    toRecord(element, record.get());
    if ((func(record.get()) & 1) == 0) return 0;
    if (!validRecord(*record)) return -1;
    *out = fromRecord(*record);
    // What the record does not carry stays as it was; a pattern turns and scales as the probe did.
    out->hole = element.hole;
    out->skip = element.skip;
    if (element.pattern) {
        Element holder;
        holder.pattern = element.pattern;
        Transform t{};
        if (probeTransform(element, func, &t, record.get()) == 1) transformShape(holder, t);
        out->pattern = holder.pattern;
    }
    return 1;
}

// A complex element (cells, text, dimensions, ...) has no record the function could change: the whole
// element is transformed by what the function did to a probe, and symbology it set is taken over. Same
// results as modifySimple.
int modifyComplex(const Element& element, ElementModifyFunc func, Element* out) {
    auto probe = std::make_unique<MSElement>();
    Transform t{};
    const int status = probeTransform(element, func, &t, probe.get());
    if (status != 1) return status;
    *out = element;
    transformShape(*out, t);
    out->color = probe->color;
    out->weight = probe->weight;
    out->style = probe->style;
    out->level = probe->level;
    return 1;
}

}  // namespace

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

std::uint32_t mdlElement_getFilePos(int which, DgnModelRefP* model) {
    if (model) *model = &host().design.model;
    if (which == FILEPOS_EOF) return elementState().nextFilePos;
    return which == FILEPOS_CURRENT ? elementState().processing : 0;
}

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
        header->range.reset();
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
    // Complex kinds are expanded (dropped, placed) before they are stroked.
    if (!isSimple(descriptor->type)) return ERROR;
    const std::vector<DPoint3d> stroked = stroke(*descriptor, tolerance);
    if (stroked.empty()) return ERROR;
    auto* buffer = static_cast<DPoint3d*>(std::malloc(stroked.size() * sizeof(DPoint3d)));
    if (!buffer) return ERROR;
    std::memcpy(buffer, stroked.data(), stroked.size() * sizeof(DPoint3d));
    *points = buffer;
    *count = int(stroked.size());
    return SUCCESS;
}

int mdlElmdscr_undoableDelete(MSElementDescr* descriptor, std::uint32_t filePos, int /*display*/) {
    // A descriptor read from a reference names its model: reference elements are never deleted, even where a
    // reference's file position is also one of the active model's.
    if (!modelWritable(nullptr) || (descriptor && descriptor->model && descriptor->model != &host().design.model))
        return ERROR;
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
    Element changed;
    // Bit 0 of the function's status: the element was changed and is stored; 0 leaves everything as it was.
    const int status = isSimple(before.shape.type) ? modifySimple(before.shape, func, &changed)
                                                   : modifyComplex(before.shape, func, &changed);
    if (status != 1) return status == 0 ? SUCCESS : ERROR;
    ElementState& st = elementState();
    if (modifyOption == MODIFY_REPLACE) {
        DesignElement after = before;
        after.shape = std::move(changed);
        after.range.reset();
        st.elements[filePos] = after;
        elementEvent("elementChanged", after.id);
        undo::record([before] { restore(before); }, [after] { restore(after); }, "modify element");
        return SUCCESS;
    }
    DesignElement copy;
    copy.id = st.nextId;
    copy.shape = std::move(changed);
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
