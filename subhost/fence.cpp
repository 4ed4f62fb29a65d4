// The fence: defined from a session or from a shape, given out as a shape,
// and processed by the fence command state, whose content function sees every
// element of the active model that lies inside it. Also the selection set.
#include <algorithm>

#include "subhost/elements.h"
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

}  // namespace

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

int mdlFence_getView() { return elementState().fenceView; }

bool mdlSelect_isActive() { return !elementState().selection.empty(); }

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
