// The area of a block edit: the fence turned into an outline, the two-corner
// block aligned with the view, their dynamics and the placement of the outline
// at the cursor.
#include "edit/block.h"

#include <algorithm>
#include <memory>

#include "host/mdlgeom.h"
#include "host/mdlraster.h"
#include "raster/context.h"
#include "resources/ids.h"
#include "settings/settings.h"

BlockState g_block;

namespace {

// Module state of the installed entry points.
struct OperationStatesState {
    OperationStates states;
};

OperationStatesState g_operationStates;

void v_call(void (*entry)()) {
    if (entry) entry();
}

constexpr int BLOCK_POINTS = 5;
constexpr int ALL_VIEWS = 0xFF;
constexpr int TRANSIENT_DRAW_MODE = 3;

bool b_fenceMode() { return operationMode() == AREA_FENCE; }

// A closed shape of count points with colour and the plain weight and style; null when it cannot be made.
std::unique_ptr<MSElement> pv_outlineShape(const DPoint3d* points, int count, int color) {
    if (count < 2) return nullptr;
    auto shape = std::make_unique<MSElement>();
    if (mdlShape_create(shape.get(), nullptr, points, std::min(count, MAX_VERTICES), 0) != 0) return nullptr;
    const int weight = 0, style = 0;
    mdlElement_setSymbology(shape.get(), &color, &weight, &style);
    return shape;
}

}  // namespace

void v_operationStatesInstall(const OperationStates& states) { g_operationStates.states = states; }

void v_operationStartAgain() { v_call(g_operationStates.states.operationStart); }

void v_operationResetAgain() { v_call(g_operationStates.states.operationReset); }

void v_fenceOperationStartInstalled() { v_call(g_operationStates.states.fenceOperationStart); }

void (*pf_rasterPickStart())() { return g_operationStates.states.rasterPickStart; }

void v_blockReset() {
    // A transient of an earlier load belonged to a host session that has already ended.
    g_block = BlockState{};
}

void v_promptShow(int promptId) { mdlOutput_rscPrintf(MSG_PROMPT, nullptr, rid::MESSAGES_PROMPTS, promptId); }

bool b_fenceToOutline() {
    if (!mdlFence_isDefined()) return false;
    if (!s__globals.HostVersion89) return true;
    MSElementDescr* descriptor = nullptr;
    if (mdlFence_toElement(&descriptor) != 0) return false;
    DPoint3d* points = nullptr;
    int count = 0;
    if (mdlElmdscr_stroke(&points, &count, descriptor, 1.0) != 0) {
        mdlElmdscr_freeAll(&descriptor);
        return false;
    }
    g_block.blockOutlineCount = std::clamp(count, 0, MAX_OUTLINE_POINTS);
    std::copy(points, points + g_block.blockOutlineCount, g_block.blockOutline);
    dlmSystem_mdlFree(points);
    mdlElmdscr_freeAll(&descriptor);
    return true;
}

void v_blockCornerPoint(const DPoint3d* point, int view) {
    if (g_block.blockPointCounter == 0) {
        g_block.anchorPoint = *point;
        g_block.blockPointCounter = 1;
        StateCallback::SetComplexDynamicsFunction(&v_blockRectangleDynamics);
        v_promptShow(b_fenceMode() ? rid::PROMPT_FENCE_SECOND : rid::PROMPT_BLOCK_SECOND);
        return;
    }
    v_blockRectangleDynamics(point, view, 0);
    g_block.blockView = view;
    v_fenceOperationStartInstalled();
}

void v_blockCornerReset() {
    if (g_block.blockPointCounter < 1) {
        mdlState_startDefaultCommand();
        return;
    }
    StateCallback::SetComplexDynamicsFunction(nullptr);
    g_block.blockPointCounter = 0;
    v_promptShow(b_fenceMode() ? rid::PROMPT_FENCE_FIRST : rid::PROMPT_BLOCK_FIRST);
}

void v_blockRectangleDynamics(const DPoint3d* point, int view, int drawMode) {
    // The rectangle is drawn in view axes, so in a turned view it is square to the screen.
    RotMatrix rotation;
    mdlRMatrix_fromView(&rotation, view);
    DPoint3d delta{point->x - g_block.anchorPoint.x, point->y - g_block.anchorPoint.y, 0.0};
    mdlRMatrix_rotatePoint(&delta, &rotation);
    DPoint3d* corners = g_block.blockOutline;
    corners[0] = {0.0, 0.0, 0.0};
    corners[1] = {0.0, delta.y, 0.0};
    corners[2] = {delta.x, delta.y, 0.0};
    corners[3] = {delta.x, 0.0, 0.0};
    corners[4] = corners[0];
    g_block.blockOutlineCount = BLOCK_POINTS;
    mdlRMatrix_unrotatePointArray(corners, &rotation, BLOCK_POINTS);
    mdlVec_addPointArray(corners, &g_block.anchorPoint, BLOCK_POINTS);
    for (int i = 0; i < BLOCK_POINTS; ++i) corners[i].z = g_block.anchorPoint.z;

    std::unique_ptr<MSElement> shape = pv_outlineShape(corners, BLOCK_POINTS, s__globals.BorderColor);
    if (!shape) return;
    if (drawMode != 0) {
        mdlElement_display(shape.get(), drawMode);
    } else if (!b_fenceMode()) {
        v_blockTransientDrop();
        g_block.blockTransient = mdlTransient_addElement(nullptr, shape.get(), ALL_VIEWS, TRANSIENT_DRAW_MODE);
        g_block.blockTransientShown = g_block.blockTransient != nullptr;
    } else {
        mdlFence_fromShape(shape.get());
        mdlElement_display(shape.get(), DRAW_MODE_Hilite);
    }
}

void v_blockOutlineDynamics(const DPoint3d* point, int /*view*/, int drawMode) {
    auto placed = std::make_unique<DPoint3d[]>(MAX_OUTLINE_POINTS);
    const int count = g_block.blockOutlineCount;
    v_blockPlace(placed.get(), g_block.blockOutline, point, count);
    std::unique_ptr<MSElement> shape = pv_outlineShape(placed.get(), count, s__globals.BorderColor);
    if (!shape) return;
    if (drawMode != 0)
        mdlElement_display(shape.get(), drawMode);
    else if (b_fenceMode())
        mdlFence_fromShape(shape.get());
}

void v_blockPlace(DPoint3d* out, const DPoint3d* in, const DPoint3d* target, int count) {
    // Delete repeats its area unchanged; copy and move scale and turn it about the base point.
    const bool plain = activeCommand() == CMD_DELETE || activeCommand() == CMD_DESPECKLE;
    const double scaleX = plain ? 1.0 : s__globals.ScaleX;
    const double scaleY = plain ? 1.0 : s__globals.ScaleY;
    RotMatrix rotation;
    mdlRMatrix_fromAngle(&rotation, plain ? 0.0 : s__globals.CopyAngle * fc_piover180);
    for (int i = 0; i < count; ++i) {
        DPoint3d q{(in[i].x - g_block.anchorPoint.x) * scaleX, (in[i].y - g_block.anchorPoint.y) * scaleY, 0.0};
        mdlRMatrix_rotatePoint(&q, &rotation);
        out[i] = {q.x + target->x, q.y + target->y, 0.0};
    }
}

void v_blockTransientDrop() {
    if (!g_block.blockTransientShown) return;
    mdlTransient_eraseDisplay(g_block.blockTransient);
    mdlTransient_free(&g_block.blockTransient);
    g_block.blockTransient = nullptr;
    g_block.blockTransientShown = false;
}
