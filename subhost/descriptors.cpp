// Element descriptors as the application sees them: chains and components,
// reading an element of a model, copies, checks, adding to the model, the
// element queries (type, header, fill, properties, symbology, range), colours,
// and what every kind shows as (display geometry and ranges).
#include <algorithm>
#include <cmath>
#include <limits>

#include "subhost/elements.h"
#include "subhost/expand.h"
#include "subhost/undo.h"

namespace subhost::elements {
namespace {

// Deepest expansion (cells in shared cells in cells ...) display follows.
constexpr int kMaxExpansionDepth = 64;

void displayInto(const Element& e, const Definitions& definitions, int depth, std::vector<Element>* out,
                 std::vector<std::string>* notes) {
    const auto note = [&](const std::string& text) {
        if (notes && std::find(notes->begin(), notes->end(), text) == notes->end()) notes->push_back(text);
    };
    if (depth > kMaxExpansionDepth) {
        note("an element nested too deep is not shown");
        return;
    }
    if (e.pattern) patternGeometry(e, out);
    std::vector<Element> parts;
    std::string why;
    switch (e.type) {
    case CELL_HEADER_ELM:
        if (e.groupedHole) {
            // A filled area with holes stays one unit: a cell of the simple outlines of its components.
            Element area = e;
            area.components.clear();
            area.pattern.reset();
            std::vector<Element> inner;
            for (const Element& c : e.components) displayInto(c, definitions, depth + 1, &inner, notes);
            for (Element& c : inner) {
                if (c.type != CELL_HEADER_ELM) {
                    area.components.push_back(std::move(c));
                    continue;
                }
                for (Element& cc : c.components) area.components.push_back(std::move(cc));
            }
            if (!area.components.empty()) out->push_back(std::move(area));
            return;
        }
        [[fallthrough]];
    case TEXT_NODE_ELM:
        for (const Element& c : e.components) displayInto(c, definitions, depth + 1, out, notes);
        return;
    case TEXT_ELM:
        if (!textGeometry(e, out, &why))
            note(why);
        else if (!why.empty())
            note(why);
        return;
    case DIMENSION_ELM:
        if (!dimensionGeometry(e, &parts)) note("a dimension cannot be drawn");
        break;
    case SHARED_CELL_ELM: {
        Element cell;
        if (sharedCellToCell(e, definitions, &cell, &why))
            displayInto(cell, definitions, depth + 1, out, notes);
        else
            note("shared cell \"" + e.name + "\": " + why);
        return;
    }
    case MULTILINE_ELM:
        if (!multiLineGeometry(e, &parts)) note("a multi-line cannot be drawn");
        break;
    default:
        if (e.style > 7 && lineStyleGeometry(e, definitions, &parts)) break;
        if (isSimple(e.type) || e.type == RASTER_FRAME_ELM) {
            out->push_back(e);
            if (e.type == RASTER_FRAME_ELM) out->back().type = SHAPE_ELM;
            out->back().pattern.reset();
        }
        return;
    }
    for (const Element& p : parts) displayInto(p, definitions, depth + 1, out, notes);
}

void grow(DRange3d* r, const DPoint3d& p) {
    r->low.x = std::min(r->low.x, p.x);
    r->low.y = std::min(r->low.y, p.y);
    r->low.z = std::min(r->low.z, p.z);
    r->high.x = std::max(r->high.x, p.x);
    r->high.y = std::max(r->high.y, p.y);
    r->high.z = std::max(r->high.z, p.z);
}

DRange3d emptyRange() {
    const double big = std::numeric_limits<double>::max();
    return DRange3d{{big, big, big}, {-big, -big, -big}};
}

// The model an element descriptor came from is not kept; its definitions are the active model's unless a
// reference is given.
const Definitions& activeDefinitions() { return definitionsOf(nullptr); }

// Checks an element and its components: a known kind with fitting geometry.
bool validElement(const Element& e, const Definitions& definitions, int depth) {
    if (depth > kMaxExpansionDepth) return false;
    for (const DPoint3d& p : e.points)
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return false;
    switch (e.type) {
    case LINE_ELM:
        return e.points.size() == 2;
    case LINE_STRING_ELM:
    case MULTILINE_ELM:
        return e.points.size() >= 2 && e.points.size() <= std::size_t(MAX_VERTICES);
    case SHAPE_ELM:
        return e.points.size() >= 3 && e.points.size() <= std::size_t(MAX_VERTICES);
    case ARC_ELM:
    case ELLIPSE_ELM:
        return std::isfinite(e.primary) && std::isfinite(e.secondary) && std::isfinite(e.sweep);
    case CELL_HEADER_ELM:
    case TEXT_NODE_ELM:
        return std::all_of(e.components.begin(), e.components.end(),
                           [&](const Element& c) { return validElement(c, definitions, depth + 1); });
    case TEXT_ELM:
        return !e.points.empty() && e.height > 0 && !e.text.empty();
    case DIMENSION_ELM:
        return e.points.size() == 2;
    case SHARED_CELL_ELM:
        return !e.points.empty() && definitions.sharedCells.count(e.name) > 0;
    case RASTER_FRAME_ELM:
        return e.points.size() >= 4;
    default:
        return false;
    }
}

bool modelWritable() { return host().design.open && !host().design.model.readOnly; }

}  // namespace

void displayGeometry(const Element& element, const Definitions& definitions, std::vector<Element>* out,
                     std::vector<std::string>* notes) {
    displayInto(element, definitions, 0, out, notes);
}

bool shownInView(const Element& element, int view) {
    const auto& views = host().design.views;
    if (view < 0 || std::size_t(view) >= views.size()) return true;
    const nlohmann::json& off = views[std::size_t(view)].value("levelsOff", nlohmann::json::array());
    if (!off.is_array()) return true;
    for (const auto& l : off)
        if (l.is_number_integer() && l.get<long long>() == element.level) return false;
    return true;
}

const DRange3d& elementRangeOf(const DesignElement& element, const Definitions& definitions) {
    if (!element.range) element.range = elementRange(element.shape, definitions);
    return *element.range;
}

const DRange3d& descriptorRange(const MSElementDescr& descriptor) {
    if (!descriptor.range) descriptor.range = elementRange(descriptor, activeDefinitions());
    return *descriptor.range;
}

DRange3d elementRange(const Element& element, const Definitions& definitions) {
    DRange3d r = emptyRange();
    if (isSimple(element.type) || element.type == RASTER_FRAME_ELM) {
        for (const DPoint3d& p : stroke(element, 0)) grow(&r, p);
        return r;
    }
    std::vector<Element> parts;
    displayGeometry(element, definitions, &parts, nullptr);
    for (const Element& p : parts) {
        if (p.type != CELL_HEADER_ELM)
            for (const DPoint3d& q : stroke(p, 0)) grow(&r, q);
        for (const Element& c : p.components)
            for (const DPoint3d& q : stroke(c, 0)) grow(&r, q);
    }
    return r;
}

}  // namespace subhost::elements

using namespace subhost;
using namespace subhost::elements;

extern "C" {

MSElementDescr* mdlElmdscr_next(const MSElementDescr* descriptor) {
    return descriptor ? descriptor->next.get() : nullptr;
}

MSElementDescr* mdlElmdscr_firstComponent(const MSElementDescr* descriptor) {
    if (!descriptor || descriptor->components.empty()) return nullptr;
    if (!descriptor->firstComponent) {
        descriptor->firstComponent = chainOf(descriptor->components);
        for (MSElementDescr* c = descriptor->firstComponent.get(); c; c = c->next.get()) c->header = descriptor;
    }
    return descriptor->firstComponent.get();
}

std::uint32_t mdlElmdscr_readToMaster(MSElementDescr** descriptor, std::uint32_t filePos, DgnModelRefP model,
                                      int /*expandShared*/, std::uint32_t* readFilePos) {
    if (!descriptor) return 0;
    *descriptor = nullptr;
    const auto* elements = elementsOf(model ? model : &host().design.model);
    if (!elements) return 0;
    const auto it = elements->find(filePos);
    if (it == elements->end()) return 0;
    // Elements of references are kept moved by their offset already: read, they are in master coordinates.
    auto read = std::make_unique<MSElementDescr>(it->second.shape);
    read->model = model ? model : &host().design.model;
    // The model keeps each element's range (scans test it), so a reader asking for it pays nothing.
    read->range = elementRangeOf(it->second, definitionsOf(read->model));
    *descriptor = read.release();
    if (readFilePos) *readFilePos = filePos;
    return filePos;
}

int mdlElmdscr_duplicateSingle(MSElementDescr** copy, const MSElementDescr* descriptor) {
    if (!copy || !descriptor) return ERROR;
    auto made = std::make_unique<MSElementDescr>(static_cast<const Element&>(*descriptor));
    made->range = descriptor->range;
    *copy = made.release();
    return SUCCESS;
}

int mdlElmdscr_validate(MSElementDescr* descriptor, DgnModelRefP model) {
    if (!descriptor) return ERROR;
    const Definitions& definitions = definitionsOf(model);
    for (const MSElementDescr* d = descriptor; d; d = d->next.get())
        if (!validElement(*d, definitions, 0)) return ERROR;
    return SUCCESS;
}

bool mdlElmdscr_isGroupedHole(const MSElementDescr* descriptor) {
    return descriptor && descriptor->type == CELL_HEADER_ELM && descriptor->groupedHole;
}

std::uint32_t mdlElmdscr_add(MSElementDescr* descriptor) {
    if (!descriptor || !modelWritable()) return 0;
    if (mdlElmdscr_validate(descriptor, nullptr) != SUCCESS) return 0;
    ElementState& st = elementState();
    std::uint32_t first = 0;
    for (const MSElementDescr* d = descriptor; d; d = d->next.get()) {
        DesignElement added;
        added.id = st.nextId++;
        added.filePos = st.nextFilePos++;
        added.shape = static_cast<const Element&>(*d);
        if (!first) first = added.filePos;
        st.elements.emplace(added.filePos, added);
        recordEvent({{"event", "elementAdded"}, {"id", added.id}});
        undo::record([pos = added.filePos] { elementState().elements.erase(pos); },
                     [added] { elementState().elements[added.filePos] = added; }, "add element");
    }
    return first;
}

int mdlElement_getType(const MSElementDescr* element) { return element ? element->type : 0; }

std::uint32_t mdlElement_getHeaderWord(const MSElementDescr* element, int index) {
    return element && index == 0 ? headerWord(*element, element->header != nullptr) : 0u;
}

bool mdlElement_isFilled(const MSElementDescr* element) { return element && isClosed(*element) && element->filled; }

int mdlElement_getProperties(int* level, int* graphicGroup, int* elementClass, bool* locked, bool* newElement,
                             bool* modified, bool* viewIndependent, std::uint8_t* solidHole,
                             const MSElementDescr* element) {
    if (!element) return ERROR;
    if (level) *level = element->level;
    if (graphicGroup) *graphicGroup = 0;
    if (elementClass) *elementClass = 0;
    if (locked) *locked = false;
    if (newElement) *newElement = false;
    if (modified) *modified = false;
    if (viewIndependent) *viewIndependent = false;
    if (solidHole) *solidHole = element->hole ? 1 : 0;
    return SUCCESS;
}

int mdlElement_getEffectiveSymbology(std::uint32_t* color, std::uint32_t* weight, std::int32_t* style,
                                     std::uint32_t* fillColor, const MSElementDescr* element, DgnModelRefP /*model*/,
                                     int /*view*/) {
    if (!element) return ERROR;
    if (color) *color = std::uint32_t(element->color);
    if (weight) *weight = std::uint32_t(element->weight);
    if (style) *style = element->style;
    if (fillColor) *fillColor = std::uint32_t(element->fillColor);
    return SUCCESS;
}

int mdlElement_extractRange(DRange3d* range, const MSElementDescr* element) {
    if (!range || !element) return ERROR;
    const DRange3d& r = descriptorRange(*element);
    if (r.low.x > r.high.x) return ERROR;
    *range = r;
    return SUCCESS;
}

int mdlColor_elementColorToRGB(RGBColorDef* rgb, std::uint32_t color, DgnModelRefP /*model*/) {
    if (!rgb || color > 255) return ERROR;
    *rgb = host().design.colorTable[color];
    return SUCCESS;
}

int mdlColor_searchRGBArray(const RGBColorDef* color, const RGBColorDef* palette, int count) {
    if (!color || !palette || count <= 0) return -1;
    int best = 0;
    long bestDistance = std::numeric_limits<long>::max();
    for (int i = 0; i < count; ++i) {
        const long dr = long(palette[i].red) - color->red, dg = long(palette[i].green) - color->green,
                   db = long(palette[i].blue) - color->blue;
        const long d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) best = i, bestDistance = d;
    }
    return best;
}

int mdlView_getDisplayControl(int control, int view) {
    const auto& views = host().design.views;
    if (control != VIEW_DISPLAY_FILL) return 0;
    if (view < 0 || std::size_t(view) >= views.size()) return 1;
    return views[std::size_t(view)].value("fill", true) ? 1 : 0;
}

bool mdlModelRef_isActiveModel(DgnModelRefP model) { return model && model == &host().design.model; }

}  // extern "C"
