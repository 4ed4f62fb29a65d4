// Elements of the design model, fences, selection, transients, views and the
// fence command state of the host.
#pragma once

#include <cstdint>

#include "host/mdlsystem.h"
#include "host/mdltypes.h"

struct MSElementDescr;
struct TransDescr;

// Element types.
constexpr int CELL_HEADER_ELM = 2;
constexpr int LINE_ELM = 3;
constexpr int LINE_STRING_ELM = 4;
constexpr int SHAPE_ELM = 6;
constexpr int TEXT_NODE_ELM = 7;
constexpr int ELLIPSE_ELM = 15;
constexpr int ARC_ELM = 16;
constexpr int TEXT_ELM = 17;
constexpr int DIMENSION_ELM = 33;
constexpr int SHARED_CELL_ELM = 35;
constexpr int MULTILINE_ELM = 36;
constexpr int RASTER_FRAME_ELM = 94;

// The first 32-bit word of an element's header: the type in bits 0-7, bit 8 set on a component of a
// complex element, bit 30 set on an element that the host's scans for editing leave to the application.
constexpr std::uint32_t HEADER_TYPE_MASK = 0xffu;
constexpr std::uint32_t HEADER_COMPLEX_BIT = 1u << 8;
constexpr std::uint32_t HEADER_SKIP_BIT = 1u << 30;

// mdlElement_getFilePos: the end of the active model's file (where the next new element goes), or the
// element the host is processing now.
constexpr int FILEPOS_EOF = 0;
constexpr int FILEPOS_CURRENT = 1;

// mdlView_getDisplayControl: the view shows fills.
constexpr int VIEW_DISPLAY_FILL = 16;

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
// File position of FILEPOS_EOF (the end of the active model: elements added later lie at or beyond it) or
// FILEPOS_CURRENT (the element the fence content function is visiting, 0 when none); *model (may be
// null) receives the active model.
std::uint32_t mdlElement_getFilePos(int which, DgnModelRefP* model);
int mdlElement_offset(MSElement* element, const DPoint3d* delta);
int mdlElement_transform(MSElement* element, const Transform* transform);

// Descriptors.
int mdlElmdscr_new(MSElementDescr** descriptor, MSElementDescr* header, const MSElement* element);
// Points of the descriptor's elements stroked within tolerance into a host buffer (free with dlmSystem_mdlFree).
int mdlElmdscr_stroke(DPoint3d** points, int* count, const MSElementDescr* descriptor, double tolerance);
// Deletes the element at filePos of the active model, undoably; 0 on success.
int mdlElmdscr_undoableDelete(MSElementDescr* descriptor, std::uint32_t filePos, int display);

// ---- Descriptor chains ----
// A descriptor holds one element; descriptors form chains (a result of several elements), and a complex
// element (cell, text node) holds the chain of its components.

// The descriptor after descriptor in its chain, or null at the end.
MSElementDescr* mdlElmdscr_next(const MSElementDescr* descriptor);
// The first component of a complex element (cell, text node, normal cell of a shared cell), or null.
MSElementDescr* mdlElmdscr_firstComponent(const MSElementDescr* descriptor);
// Reads the element at filePos of model into a new descriptor in master coordinates (the active model's,
// a reference's moved by its offset); expandShared is accepted for the host's interface and changes
// nothing; *readFilePos (may be null) receives filePos. Gives the element's file position, 0 when there is none.
std::uint32_t mdlElmdscr_readToMaster(MSElementDescr** descriptor, std::uint32_t filePos, DgnModelRefP model,
                                      int expandShared, std::uint32_t* readFilePos);
// A copy of descriptor's element alone (with its components, without the rest of its chain); 0 on success.
int mdlElmdscr_duplicateSingle(MSElementDescr** copy, const MSElementDescr* descriptor);
// Checks descriptor's elements against model (known kinds, fitting geometry); 0 when they can be used.
int mdlElmdscr_validate(MSElementDescr* descriptor, DgnModelRefP model);
// True when descriptor is a grouped-hole cell: a solid shape followed by hole shapes.
bool mdlElmdscr_isGroupedHole(const MSElementDescr* descriptor);
// Adds every element of descriptor's chain at the end of the active model, undoably; the file position of
// the first, 0 when nothing was added (no writable design, an element that does not validate).
std::uint32_t mdlElmdscr_add(MSElementDescr* descriptor);

// ---- Element queries (on the element a descriptor holds) ----

// The element's type (*_ELM).
int mdlElement_getType(const MSElementDescr* element);
// The first (index 0) 32-bit word of the element's header (HEADER_* bits); 0 for another index.
std::uint32_t mdlElement_getHeaderWord(const MSElementDescr* element, int index);
// True when the element is a closed element drawn filled.
bool mdlElement_isFilled(const MSElementDescr* element);
// The element's properties; every output may be null. *solidHole: 1 for a hole, 0 for a solid.
int mdlElement_getProperties(int* level, int* graphicGroup, int* elementClass, bool* locked, bool* newElement,
                             bool* modified, bool* viewIndependent, std::uint8_t* solidHole,
                             const MSElementDescr* element);
// Colour index, weight, line code and fill colour index the element shows with in view of model (the
// element's own symbology; a view that hides its level gives its own). Outputs may be null; 0 on success.
int mdlElement_getEffectiveSymbology(std::uint32_t* color, std::uint32_t* weight, std::int32_t* style,
                                     std::uint32_t* fillColor, const MSElementDescr* element, DgnModelRefP model,
                                     int view);
// The element's range (all of its geometry, components and expansions included) in design coordinates.
int mdlElement_extractRange(DRange3d* range, const MSElementDescr* element);

// ---- Colours ----

// The red, green and blue of colour index color in model's colour table; 0 on success.
int mdlColor_elementColorToRGB(RGBColorDef* rgb, std::uint32_t color, DgnModelRefP model);
// Index of the palette entry nearest to color (least squared distance, the first of equals); -1 for none.
int mdlColor_searchRGBArray(const RGBColorDef* color, const RGBColorDef* palette, int count);

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
// Makes the closed shape descriptor the fence, placed in view; 0 on success.
int mdlFence_fromElement(const MSElementDescr* shape, int view);
// Calls the fence command's content function once per element inside the fence; 0 on success.
int mdlFence_process(const DPoint3d* point);
void mdlFence_clear(bool erase);
// View the fence was placed in.
int mdlFence_getView();

// Selection.
bool mdlSelect_isActive();
// The selected elements: parallel arrays of file positions and models (free both with dlmSystem_mdlFree)
// and their count; 0 on success (also when nothing is selected: null arrays, count 0).
int mdlSelect_returnPositions(std::uint32_t** filePositions, DgnModelRefP** models, int* count);
// Drops the selection set.
void mdlSelect_freeAll();

// The host's terminal control block: what the fence holds now.
struct TerminalControlBlock {
    int fence;  // points of the fence, 0 when none is defined
    int fenvw;  // view the fence was placed in
};
// The terminal control block; fenvw may be set back by the application (a fence it restores).
TerminalControlBlock* mdlSystem_getTcb();

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
// A display setting of view (VIEW_DISPLAY_FILL: fills shown): 1 on, 0 off.
int mdlView_getDisplayControl(int control, int view);
// The view's lower-left origin, centre and extent (delta) in design units, its rotation matrix and active
// depth (any may be null); 0, or ERROR for a view that is not open (the outputs then zero).
int mdlView_getParameters(DPoint3d* origin, DPoint3d* center, DPoint3d* delta, RotMatrix* rotation, double* activeZ,
                          int view);

// A scale item's upper limit and its label.
int mdlDialog_scaleSetInfo(void* item, double maximum, WCharCP label);
}
