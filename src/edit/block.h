// The area of a block edit: the fence or a view-aligned block given by two
// corners, its dynamics, its placement at the cursor, and the frame's tool-state
// entry points that the area and operation handlers return to.
#pragma once

#include "host/mdlelement.h"
#include "host/mdltypes.h"

// Most points an area outline holds.
constexpr int MAX_OUTLINE_POINTS = 5000;

// Module state of the area (one command runs at a time).
struct BlockState {
    DPoint3d blockOutline[MAX_OUTLINE_POINTS] = {};
    int blockOutlineCount = 0;
    DPoint3d anchorPoint = {};
    int blockPointCounter = 0;  // 1 once the current state took its first data point
    int blockView = 0;          // view in which the fence was placed or the block finished
    bool fenceExisted = false;  // the operation started on a fence that already existed
    TransDescr* blockTransient = nullptr;
    bool blockTransientShown = false;
};

extern BlockState g_block;

// The frame's tool-state entry points that the area and operation handlers hand control back to
// (the frame installs them, so that this module does not depend on it). A missing one does nothing.
struct OperationStates {
    void (*operationStart)() = nullptr;       // choose the area again
    void (*operationReset)() = nullptr;       // reset of the operation states
    void (*fenceOperationStart)() = nullptr;  // the area is finished: start the operation on it
    void (*rasterPickStart)() = nullptr;      // pick a raster again
};

// Installs the frame's tool-state entry points.
void v_operationStatesInstall(const OperationStates& states);
// Calls the installed entry points (nothing when none is installed).
void v_operationStartAgain();
void v_operationResetAgain();
void v_fenceOperationStartInstalled();
// The installed raster pick start, as a host reset function (null when none is installed).
void (*pf_rasterPickStart())();
// Forgets the area state, its transient included (the entry points stay installed).
void v_blockReset();

// True when the host has a fence; fills blockOutline from it (at most 5000 points).
bool b_fenceToOutline();
// Data point of the block-definition state: first corner, then the finished block.
void v_blockCornerPoint(const DPoint3d* point, int view);
// Reset of the block-definition state: a new first corner, or the end of the command.
void v_blockCornerReset();
// Dynamics while the second corner is sought; drawMode 0 finishes the block (transient or fence).
void v_blockRectangleDynamics(const DPoint3d* point, int view, int drawMode);
// Dynamics of the operation states: blockOutline placed at the cursor; drawMode 0 moves the fence along.
void v_blockOutlineDynamics(const DPoint3d* point, int view, int drawMode);
// Places count points of in at target (scaled and turned about anchorPoint, except for delete) into out.
void v_blockPlace(DPoint3d* out, const DPoint3d* in, const DPoint3d* target, int count);
// Erases and frees the finished block's transient when it is shown.
void v_blockTransientDrop();
// Shows prompt promptId of the add-on's prompt messages.
void v_promptShow(int promptId);
