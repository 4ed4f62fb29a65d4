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

namespace subhost::elements {

// One element's geometry and symbology: vertices for lines, line strings and
// shapes; centre, axes, rotation and sweep (degrees) for arcs and ellipses.
struct Shape {
    int type = SHAPE_ELM;
    std::vector<DPoint3d> points;  // vertices in design coordinates
    DPoint3d center{};
    double primary = 0, secondary = 0;
    double rotation = 0;
    double start = 0, sweep = 360;
    int color = 0, weight = 0, style = 0, level = 0;
    bool filled = false;
    int fillColor = 0;
};

}  // namespace subhost::elements

// A descriptor: one element (the clip masks and boundaries of the raster
// services are closed shapes: type 6 with their points).
struct MSElementDescr : subhost::elements::Shape {};

// Elements kept on screen until erased.
struct TransDescr {
    int id = 0;
    std::vector<subhost::elements::Shape> shapes;
    int viewMask = 0;
    int drawMode = 0;
    bool shown = false;
};

namespace subhost::elements {

// An element of the active model.
struct DesignElement {
    int id = 0;
    std::uint32_t filePos = 0;
    Shape shape;
};

// Module state: the model's elements by file position (file order), the fence,
// the selection, transients, the fence command and what display showed.
struct ElementState {
    std::map<std::uint32_t, DesignElement> elements;
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

// Reads "elements", "fence" and "selection" of a design description into *out; false with *problem.
bool parseDesign(const nlohmann::json& doc, ElementState* out, std::string* problem);
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
// Applies transform to the shape's points, centre and axes.
void transformShape(Shape& shape, const Transform& transform);

// Points of shape stroked within tolerance (shapes and ellipses closed); at most MAX_VERTICES.
std::vector<DPoint3d> stroke(const Shape& shape, double tolerance);
// True when p lies inside the polygon or on its edge.
bool insidePolygon(const std::vector<DPoint3d>& polygon, const DPoint3d& p);
// The shape as design JSON (an "elements" entry without id).
nlohmann::json shapeJson(const Shape& shape);

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
