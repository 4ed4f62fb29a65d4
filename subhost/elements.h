// Element descriptors as the host keeps them, and the host's element module:
// the design's elements with their file positions, the fence, the selection,
// transients and what element display showed last.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/mdlelement.h"
#include "host/mdltypes.h"
#include "subhost/state.h"

namespace subhost::elements {

// An area pattern: parallel hatch lines at angle (degrees), spacing apart (design units).
struct Pattern {
    double angle = 0, spacing = 0;
    int color = 0, weight = 0;
};

// One line of a multi-line: its offset to the left of the path, and its symbology.
struct MlineLine {
    double offset = 0;
    int color = 0, weight = 0, style = 0;
};

// Justification of text: horizontal 0 left, 1 centre, 2 right; vertical 0 top, 1 centre, 2 bottom.
struct Justification {
    int horizontal = 0, vertical = 2;
};

// One element of any kind, its geometry and symbology. Simple kinds: vertices for lines, line strings
// and shapes; centre, axes, rotation and sweep (degrees) for arcs and ellipses. Complex kinds keep what
// defines them; the host expands them to simple elements when they are shown, stroked or clipped.
struct Element {
    int type = SHAPE_ELM;
    // Lines, line strings, shapes, multi-line paths, the two measured points of a dimension, the 4
    // corners of a raster frame; the origin of text, text nodes, cells and shared cell instances.
    std::vector<DPoint3d> points;
    DPoint3d center{};
    double primary = 0, secondary = 0;
    double rotation = 0;  // arcs, ellipses, text, text nodes, shared cell instances (degrees)
    double start = 0, sweep = 360;
    int color = 0, weight = 0, style = 0, level = 0;
    bool filled = false;
    int fillColor = 0;
    bool hole = false;  // a hole (not a solid) of a grouped-hole cell
    bool skip = false;  // bit 30 of the header's first word
    std::optional<Pattern> pattern;

    // Text (one line) and text nodes (lines as text components).
    std::string text;
    std::string font;  // family name; empty: the default font
    double height = 0, widthFactor = 1, lineSpacing = 0;
    Justification justification;

    // Cells and text nodes: components in order; cells and shared cells: the name.
    std::string name;
    std::vector<Element> components;
    bool groupedHole = false;

    // Shared cell instances: scale in x and y (rotation above, origin points[0]).
    double scaleX = 1, scaleY = 1;

    // Dimensions: offset of the dimension line, text height, arrowhead length, decimals of the measured text.
    double offset = 0, arrow = 0;
    int precision = 2;

    // Multi-lines.
    std::vector<MlineLine> mlines;
    bool startCap = false, endCap = false;
};

// Kept for the simple elements the raster services and dynamics use.
using Shape = Element;

// A custom line code: dash and gap lengths (design units, starting with a dash) and a width (0: none).
struct LineStyleDef {
    std::string name;
    std::vector<double> dashes;
    double width = 0;
};

// What a model defines for its elements: shared cell definitions and custom line codes.
struct Definitions {
    std::map<std::string, Element> sharedCells;  // a definition: origin points[0], components
    std::map<int, LineStyleDef> lineStyles;
};

}  // namespace subhost::elements

// A descriptor: one element, in a chain of descriptors; a complex element's components form a chain of
// their own, made when first asked for. Clip masks and boundaries of the raster services are closed shapes.
struct MSElementDescr : subhost::elements::Element {
    MSElementDescr() = default;
    explicit MSElementDescr(subhost::elements::Element e) : subhost::elements::Element(std::move(e)) {}
    MSElementDescr(const MSElementDescr&) = delete;
    MSElementDescr& operator=(const MSElementDescr&) = delete;
    ~MSElementDescr();  // frees the chain after it without recursion
    std::unique_ptr<MSElementDescr> next;
    mutable std::unique_ptr<MSElementDescr> firstComponent;  // made from components on demand
    const MSElementDescr* header = nullptr;                  // the complex element this is a component of
    DgnModelRefP model = nullptr;                            // the model it was read from, null when made
    // The range of its display geometry: carried over from the model element when read, else made when
    // first asked for (descriptorRange); whoever changes the element resets it.
    mutable std::optional<DRange3d> range;
};

// Elements kept on screen until erased.
struct TransDescr {
    int id = 0;
    std::vector<subhost::elements::Shape> shapes;
    int viewMask = 0;
    int drawMode = 0;
    bool shown = false;
};

namespace subhost::elements {

// An element of a model.
struct DesignElement {
    int id = 0;
    std::uint32_t filePos = 0;
    Element shape;
    // The range of shape's display geometry, made when first asked for (elementRangeOf); whoever changes
    // shape resets it.
    mutable std::optional<DRange3d> range;
};

// A reference: another design description whose elements are shown and scanned (moved by offset, in master
// coordinates) and never changed.
struct Reference {
    DgnModelRef model;
    std::string file;
    DPoint3d offset{};
    std::map<std::uint32_t, DesignElement> elements;
    Definitions definitions;
};

// Module state: the model's elements by file position (file order), the fence,
// the selection, transients, the fence command and what display showed.
struct ElementState {
    std::map<std::uint32_t, DesignElement> elements;
    Definitions definitions;
    std::vector<std::unique_ptr<Reference>> references;
    std::uint32_t nextFilePos = 1;
    int nextId = 1;
    std::optional<std::vector<DPoint3d>> fence;  // polygon, not closed
    int fenceView = 0;
    std::vector<int> selection;
    std::vector<std::unique_ptr<TransDescr>> transients;
    int nextTransientId = 1;
    FenceContentFunc fenceContent = nullptr;  // content function of the fence command
    std::uint32_t processing = 0;             // file position of the element the fence visits
    std::vector<Shape> dynamics;              // what the last dynamics call displayed
    bool dynamicsOpen = false;                // a dynamics call is running
};

ElementState& elementState();

// Most elements and points a design may hold.
constexpr std::size_t kMaxElements = 100000;

// Reads "elements", "sharedCells", "lineStyles", "references" (files resolved against folder), "fence" and
// "selection" of a design description into *out; false with *problem.
bool parseDesign(const nlohmann::json& doc, const std::string& folder, ElementState* out, std::string* problem);
// Reads one element (with its components) of the design description; an empty text when good, else what
// is wrong. topLevel elements need an "id".
std::string readElement(const nlohmann::json& e, const Definitions& definitions, int depth, Element* out);
// Reads "sharedCells" and "lineStyles" of doc into *out; an empty text when good, else what is wrong.
std::string readDefinitions(const nlohmann::json& doc, Definitions* out);
// The element as design JSON (an "elements" entry without id), components included.
nlohmann::json elementJson(const Element& element);
// Writes the definitions into doc.
void definitionsInto(const Definitions& definitions, nlohmann::json& doc);
// Loads the "references" of doc (files against folder) into *out; an empty text when good, else what is wrong.
std::string loadReferences(const nlohmann::json& doc, const std::string& folder, ElementState* out);

// The definitions of model (the active model's or a reference's); empty ones for an unknown model.
const Definitions& definitionsOf(DgnModelRefP model);
// The elements of model, null for an unknown model.
const std::map<std::uint32_t, DesignElement>* elementsOf(DgnModelRefP model);
// The first word of element's header (HEADER_* bits).
std::uint32_t headerWord(const Element& element, bool component);
// True for lines, line strings, shapes, arcs and ellipses.
bool isSimple(int type);
// True for closed kinds (shapes, ellipses).
bool isClosed(const Element& element);

// The simple elements element shows as (every kind expanded, patterns included), appended to *out in
// drawing order; complex kinds that cannot be expanded add nothing and a note to *notes (may be null).
// A filled area with holes (a grouped-hole cell, a glyph of several contours) comes as one grouped-hole
// cell whose components are simple closed elements: its first solid first, then holes and other solids.
void displayGeometry(const Element& element, const Definitions& definitions, std::vector<Element>* out,
                     std::vector<std::string>* notes);
// Calls fn(element, definitions) for every top-level element of the active model, then of each reference.
template <class Fn>
void forEachModelElement(Fn fn) {
    const ElementState& st = elementState();
    for (const auto& [pos, e] : st.elements) fn(e.shape, st.definitions);
    for (const auto& r : st.references)
        for (const auto& [pos, e] : r->elements) fn(e.shape, r->definitions);
}
// True when view shows element's level (the view's "levelsOff" does not list it).
bool shownInView(const Element& element, int view);
// The range of a model element's display geometry, kept with it.
const DRange3d& elementRangeOf(const DesignElement& element, const Definitions& definitions);
// The range of element's display geometry (low > high when it shows nothing).
DRange3d elementRange(const Element& element, const Definitions& definitions);
// The range of a descriptor's display geometry (low > high when it shows nothing), kept with it.
const DRange3d& descriptorRange(const MSElementDescr& descriptor);
// Writes the elements, fence and selection into doc (what `save` writes).
void saveInto(nlohmann::json& doc);
// Forgets the elements, fence, selection, transients and dynamics (design closed, host reset).
void clear();

// Closes a polygon: the first point again at the end when it is not there (within MAX_VERTICES).
void closeShape(std::vector<DPoint3d>& points);
// The element record of a shape, and the shape of a record (its point count clamped).
void toRecord(const Shape& shape, MSElement* element);
Shape fromRecord(const MSElement& element);
// True when the record is a known type with a fitting point count.
bool validRecord(const MSElement& element);
// Applies transform to an element of any kind: points, centre and axes, components, text sizes and turns,
// dimension offsets, multi-line offsets, shared cell placements and pattern angles and spacings.
void transformShape(Shape& shape, const Transform& transform);

// Points of shape stroked within tolerance (shapes and ellipses closed); at most MAX_VERTICES.
std::vector<DPoint3d> stroke(const Shape& shape, double tolerance);
// True when p lies inside the polygon or on its edge.
bool insidePolygon(const std::vector<DPoint3d>& polygon, const DPoint3d& p);
// The shape as design JSON (an "elements" entry without id).
nlohmann::json shapeJson(const Shape& shape);
// A descriptor chain of elements (null for none).
std::unique_ptr<MSElementDescr> chainOf(std::vector<Element> elements);

// Defines the fence from points (at least 3) in view; false with *error.
bool setFence(const std::vector<DPoint3d>& points, int view, std::string* error);
// Marks the start of a dynamics call: what it displays replaces what the last one displayed.
void beginDynamics();
// Marks the end of a dynamics call.
void endDynamics();
// What the last dynamics call displayed ({"event":"dynamics",...}); also recorded.
nlohmann::json dumpDynamics();
// The model's elements ({"event":"elements",...}); also recorded.
nlohmann::json dumpElements();

}  // namespace subhost::elements
