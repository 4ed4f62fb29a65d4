// Elements of the design model, fences, selection, transients, views and the
// fence command state of the host.
#pragma once

#include <cstdint>

#include "host/mdlsystem.h"
#include "host/mdltypes.h"

struct MSElementDescr;
struct TransDescr;

// Element types.
constexpr int LINE_ELM = 3;
constexpr int LINE_STRING_ELM = 4;
constexpr int SHAPE_ELM = 6;
constexpr int ELLIPSE_ELM = 15;
constexpr int ARC_ELM = 16;

// Most vertices an element holds.
constexpr int MAX_VERTICES = 5000;

// Draw modes of element display.
constexpr int DRAW_MODE_Normal = 0;
constexpr int DRAW_MODE_Erase = 1;
constexpr int DRAW_MODE_Hilite = 2;

// Modify options of mdlModify_elementSingle.
constexpr int MODIFY_COPY = 1;
constexpr int MODIFY_REPLACE = 2;

// One element as the add-on builds or receives it (a fixed-size buffer, like the host's element record).
struct MSElement {
    int type;    // *_ELM
    int color;   // colour index of the design's colour table
    int weight;  // 0-31
    int style;   // line style 0-7
    int level;
    bool filled;  // shapes and ellipses
    int fillColor;
    int numPoints;  // lines, line strings, shapes
    DPoint3d points[MAX_VERTICES];
    DPoint3d center;            // arcs and ellipses
    double primary, secondary;  // axis radii
    double rotation;            // degrees
    double start, sweep;        // arcs: degrees
};

// A transform: rows of a 3 x 3 matrix and a translation.
struct Transform {
    double form3d[3][4];
};

using FenceContentFunc = int (*)(const DPoint3d* point);
using ElementModifyFunc = int (*)(MSElement* element);

extern "C" {

// Shapes and symbology. points closed or not (the host closes shapes); 0 on success.
int mdlShape_create(MSElement* element, const MSElement* templateElement, const DPoint3d* points, int count, int fill);
int mdlElement_setSymbology(MSElement* element, const int* color, const int* weight, const int* style);
// Shows element in the views with drawMode (dynamics use DRAW_MODE_TempDraw); 0 on success.
int mdlElement_display(const MSElement* element, int drawMode);
// File position of the element the host is processing (fence content), or 0.
std::uint32_t mdlElement_getFilePos(int which);
int mdlElement_offset(MSElement* element, const DPoint3d* delta);
int mdlElement_transform(MSElement* element, const Transform* transform);

// Descriptors.
int mdlElmdscr_new(MSElementDescr** descriptor, MSElementDescr* header, const MSElement* element);
// Points of the descriptor's elements stroked within tolerance into a host buffer (free with dlmSystem_mdlFree).
int mdlElmdscr_stroke(DPoint3d** points, int* count, const MSElementDescr* descriptor, double tolerance);
// Deletes the element at filePos of the active model, undoably; 0 on success.
int mdlElmdscr_undoableDelete(MSElementDescr* descriptor, std::uint32_t filePos, int display);

// Modifies (or copies, with MODIFY_COPY) the element at filePos through func; 0 on success.
int mdlModify_elementSingle(DgnModelRefP model, std::uint32_t filePos, int modifyOption, int displayOption,
                            ElementModifyFunc func, void* params, int offsetToNext);

// Transforms.
void mdlTMatrix_getIdentity(Transform* transform);
// Rotates by angles (radians) about x, y and z.
void mdlTMatrix_rotateByAngles(Transform* out, const Transform* in, double xRadians, double yRadians, double zRadians);
void mdlTMatrix_scale(Transform* out, const Transform* in, double x, double y, double z);

// Fence.
bool mdlFence_isDefined();
// The fence as a closed shape descriptor; 0 on success.
int mdlFence_toElement(MSElementDescr** descriptor);
// Makes the shape the fence; 0 on success.
int mdlFence_fromShape(const MSElement* shape);
// Calls the fence command's content function once per element inside the fence; 0 on success.
int mdlFence_process(const DPoint3d* point);
void mdlFence_clear(bool erase);
// View the fence was placed in.
int mdlFence_getView();

// Selection.
bool mdlSelect_isActive();

// The fence command state: content is called per element inside the fence by mdlFence_process.
int mdlState_startFenceCommand(FenceContentFunc content, void* outline, StateFunc_DataPoint dataPoint,
                               StateFunc_Reset reset, int commandMsgId, int promptMsgId, int option);

// Transients: elements kept on screen until erased.
TransDescr* mdlTransient_addElement(TransDescr* transient, const MSElement* element, int viewMask, int drawMode);
void mdlTransient_eraseDisplay(TransDescr* transient);
void mdlTransient_free(TransDescr** transient);

// Views.
void mdlRMatrix_fromView(RotMatrix* matrix, int view);
void mdlRMatrix_unrotatePointArray(DPoint3d* points, const RotMatrix* matrix, int count);
bool mdlView_isVisible(int view);
int mdlView_updateSingle(int view);
// The host's current view.
int mdlView_getCurrent();

// A scale item's upper limit and its label.
int mdlDialog_scaleSetInfo(void* item, double maximum, WCharCP label);
}
