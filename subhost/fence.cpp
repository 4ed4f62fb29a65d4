// The fence: defined from a session or from a shape, given out as a shape,
// and processed by the fence command state, whose content function sees every
// element of the active model that lies inside it. Also the selection set and
// the terminal control block that shows the fence.
#include <algorithm>
#include <cstdlib>
#include <unordered_map>

#include "subhost/elements.h"
#include "subhost/selection.h"
#include "subhost/state.h"

namespace subhost::elements {
namespace {

nlohmann::json polygonJson(const std::vector<DPoint3d>& points) {
    nlohmann::json j = nlohmann::json::array();
    for (const DPoint3d& p : points) j.push_back({p.x, p.y});
    return j;
}

// Drops a closing point equal to the first, so that the fence keeps its corners once.
std::vector<DPoint3d> openPolygon(std::vector<DPoint3d> points) {
    if (points.size() > 1) {
        const DPoint3d& a = points.front();
        const DPoint3d& b = points.back();
        if (a.x == b.x && a.y == b.y && a.z == b.z) points.pop_back();
    }
    return points;
}

struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

Box boxOf(const std::vector<DPoint3d>& points) {
    Box b{points.front().x, points.front().y, points.front().x, points.front().y};
    for (const DPoint3d& p : points) {
        b.x0 = std::min(b.x0, p.x);
        b.y0 = std::min(b.y0, p.y);
        b.x1 = std::max(b.x1, p.x);
        b.y1 = std::max(b.y1, p.y);
    }
    return b;
}

// True when every stroked point of the element lies inside the fence (whose box is fenceBox).
bool insideFence(const Shape& shape, const std::vector<DPoint3d>& fence, const Box& fenceBox) {
    const std::vector<DPoint3d> points = stroke(shape, 0.0);
    if (points.empty()) return false;
    // Most elements of a large design lie outside the fence's box: no polygon test for them.
    const Box b = boxOf(points);
    if (b.x0 < fenceBox.x0 || b.y0 < fenceBox.y0 || b.x1 > fenceBox.x1 || b.y1 > fenceBox.y1) return false;
    return std::all_of(points.begin(), points.end(), [&](const DPoint3d& p) { return insidePolygon(fence, p); });
}

// Module state: the terminal control block handed to the application, and the fence view written into it
// last (a different value there is one the application wrote).
struct FenceState {
    TerminalControlBlock tcb{};
    int viewGiven = 0;
};

FenceState& fenceState() {
    static FenceState state;
    return state;
}

// Takes the fence view the application wrote into the terminal control block, if it wrote one.
void adoptTcbView() {
    FenceState& fs = fenceState();
    if (fs.tcb.fenvw == fs.viewGiven) return;
    if (fs.tcb.fenvw >= 0 && fs.tcb.fenvw <= 7) elementState().fenceView = fs.tcb.fenvw;
    fs.viewGiven = fs.tcb.fenvw = elementState().fenceView;
}

nlohmann::json idsJson(const std::vector<int>& ids) {
    nlohmann::json j = nlohmann::json::array();
    for (int id : ids) j.push_back(id);
    return j;
}

// The elements of the active model by id.
std::unordered_map<int, const DesignElement*> elementsById() {
    std::unordered_map<int, const DesignElement*> byId;
    for (const auto& [pos, e] : elementState().elements) byId.emplace(e.id, &e);
    return byId;
}

// The element with id in the active model; null when there is none.
const DesignElement* elementWithId(int id) {
    for (const auto& [pos, e] : elementState().elements)
        if (e.id == id) return &e;
    return nullptr;
}

}  // namespace

bool selectIds(const std::vector<int>& ids, std::string* error) {
    const auto byId = elementsById();
    for (int id : ids)
        if (!byId.count(id)) {
            if (error) *error = "no element with id " + std::to_string(id) + " in the active model";
            return false;
        }
    elementState().selection = ids;
    recordEvent({{"event", "selection"}, {"action", "set"}, {"ids", idsJson(ids)}});
    return true;
}

void clearSelection() {
    elementState().selection.clear();
    recordEvent({{"event", "selection"}, {"action", "cleared"}});
}

bool dumpExpanded(int id, std::string* error) {
    const DesignElement* element = elementWithId(id);
    if (!element) {
        if (error) *error = "no element with id " + std::to_string(id) + " in the active model";
        return false;
    }
    std::vector<Element> parts;
    std::vector<std::string> notes;
    displayGeometry(element->shape, elementState().definitions, &parts, &notes);
    nlohmann::json list = nlohmann::json::array();
    for (const Element& p : parts) list.push_back(elementJson(p));
    recordEvent({{"event", "expanded"}, {"id", id}, {"elements", std::move(list)}, {"notes", notes}});
    return true;
}

bool setFence(const std::vector<DPoint3d>& given, int view, std::string* error) {
    std::vector<DPoint3d> points = openPolygon(given);
    if (points.size() < 3 || points.size() > std::size_t(MAX_VERTICES)) {
        if (error) *error = "a fence needs 3 to 5000 points";
        return false;
    }
    if (view < 0 || view > 7) {
        if (error) *error = "view must be 0-7";
        return false;
    }
    ElementState& st = elementState();
    st.fence = std::move(points);
    st.fenceView = view;
    recordEvent({{"event", "fence"}, {"action", "defined"}, {"view", view}, {"points", polygonJson(*st.fence)}});
    return true;
}

}  // namespace subhost::elements

using namespace subhost;
using namespace subhost::elements;

extern "C" {

bool mdlFence_isDefined() { return elementState().fence.has_value(); }

int mdlFence_toElement(MSElementDescr** descriptor) {
    if (!descriptor) return ERROR;
    *descriptor = nullptr;
    const ElementState& st = elementState();
    if (!st.fence) return ERROR;
    auto shape = std::make_unique<MSElementDescr>();
    shape->type = SHAPE_ELM;
    shape->points = *st.fence;
    closeShape(shape->points);
    *descriptor = shape.release();
    return SUCCESS;
}

int mdlFence_fromShape(const MSElement* shape) {
    if (!shape || shape->type != SHAPE_ELM || !validRecord(*shape)) return ERROR;
    const std::vector<DPoint3d> points(shape->points, shape->points + shape->numPoints);
    const int view = std::max(0, mdlView_getCurrent());
    return setFence(points, view, nullptr) ? SUCCESS : ERROR;
}

int mdlFence_process(const DPoint3d* point) {
    ElementState& st = elementState();
    const ToolState& tool = host().tool;
    // Only while the fence command that gave the content function is the running tool state.
    if (!st.fence || !st.fenceContent || !tool.active) return ERROR;
    const std::vector<DPoint3d> fence = *st.fence;
    // The elements as they are now: those the content function adds are not visited.
    std::vector<std::uint32_t> inside;
    const Box fenceBox = boxOf(fence);
    for (const auto& [pos, element] : st.elements)
        if (insideFence(element.shape, fence, fenceBox)) inside.push_back(pos);
    const FenceContentFunc content = st.fenceContent;
    DPoint3d given = point ? *point : DPoint3d{};
    for (std::uint32_t pos : inside) {
        if (!elementState().elements.count(pos)) continue;  // deleted by an earlier call
        elementState().processing = pos;
        content(&given);
    }
    elementState().processing = 0;
    return SUCCESS;
}

void mdlFence_clear(bool /*erase*/) {
    ElementState& st = elementState();
    if (!st.fence) return;
    st.fence.reset();
    recordEvent({{"event", "fence"}, {"action", "cleared"}});
}

int mdlFence_fromElement(const MSElementDescr* shape, int view) {
    if (!shape || (shape->type != SHAPE_ELM && shape->type != ELLIPSE_ELM)) return ERROR;
    return setFence(stroke(*shape, 0.0), view, nullptr) ? SUCCESS : ERROR;
}

int mdlFence_getView() {
    adoptTcbView();
    return elementState().fenceView;
}

TerminalControlBlock* mdlSystem_getTcb() {
    adoptTcbView();
    FenceState& fs = fenceState();
    const ElementState& st = elementState();
    fs.tcb.fence = st.fence ? int(st.fence->size()) : 0;
    fs.viewGiven = fs.tcb.fenvw = st.fenceView;
    return &fs.tcb;
}

bool mdlSelect_isActive() { return !elementState().selection.empty(); }

int mdlSelect_returnPositions(std::uint32_t** filePositions, DgnModelRefP** models, int* count) {
    if (!filePositions || !models || !count) return ERROR;
    *filePositions = nullptr;
    *models = nullptr;
    *count = 0;
    // Positions in selection order; ids whose element is gone are left out.
    std::vector<std::uint32_t> found;
    const auto byId = elementsById();
    for (int id : elementState().selection) {
        const auto it = byId.find(id);
        if (it != byId.end()) found.push_back(it->second->filePos);
    }
    if (found.empty()) return SUCCESS;
    auto* positions = static_cast<std::uint32_t*>(std::malloc(found.size() * sizeof(std::uint32_t)));
    auto* owners = static_cast<DgnModelRefP*>(std::malloc(found.size() * sizeof(DgnModelRefP)));
    if (!positions || !owners) {
        std::free(positions);
        std::free(owners);
        return ERROR;
    }
    for (std::size_t i = 0; i < found.size(); ++i) {
        positions[i] = found[i];
        owners[i] = &host().design.model;
    }
    *filePositions = positions;
    *models = owners;
    *count = int(found.size());
    return SUCCESS;
}

void mdlSelect_freeAll() { clearSelection(); }

int mdlState_startFenceCommand(FenceContentFunc content, void* /*outline*/, StateFunc_DataPoint dataPoint,
                               StateFunc_Reset reset, int commandMsgId, int promptMsgId, int /*option*/) {
    // A tool state like a primitive one whose data points go to dataPoint; the
    // content function serves mdlFence_process while this state runs.
    const int status = mdlState_startPrimitive(dataPoint, reset, commandMsgId, promptMsgId);
    ElementState& st = elementState();
    st.fenceContent = content;
    return status;
}

}  // extern "C"
