// The pixel operations on an area: copy, move, delete, crop, and the brush.
#pragma once

#include "host/mdlelement.h"
#include "host/mdlraster.h"

// The block the stamp works on (its area's pixel bounding block once chosen).
PixelBlock stampBlock();

// Stamp on a fence or block: selects the raster under the area with its record and makes the area's
// pixel bounding block the stamp's block; false when there is none or it was refused (the user has been
// told and the area choice starts again).
bool b_stampAreaChoose(int view);
// Forgets the copy source and the stamp's block (load, unload, tests).
void v_blockOpsReset();

// Data point of copy and move: the base point, then each placement.
void v_copyMovePoint(const DPoint3d* point, int view);
// Data point of delete (and despeckle in fence or block mode): the area at its place, then at the cursor.
void v_areaProcessPoint(const DPoint3d* point, int view);
// Data point of crop, stamp, whole-raster despeckle, the brush and whole-raster copy/move/delete.
void v_operationProcessPoint(const DPoint3d* point, int view);
// Fence content function: carries one vector element along with the pixels; 0.
int j_fenceElementContent(const DPoint3d* point);
// Modify function: the element placed like the pixel block; 1.
int j_elementTransform(MSElement* element);
// True when the polygon inside block is not just the block's own rectangle (so pixels outside it must be kept).
bool b_polygonNeedsMask(const PixelBlock* block, const DPoint2d* polygon, int count);
// Starts the brush on the current target.
void v_brushStart();
// Dynamics of the brush: its square outline at the cursor.
void v_brushOutlineDynamics(const DPoint3d* point, int view, int drawMode);
