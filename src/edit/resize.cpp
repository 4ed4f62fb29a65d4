// Resize canvas: the four amounts (typed, or set by dragging the canvas edges by their double-arrow
// handles), the old and new size texts, and the new canvas committed in place of the raster file or
// beside it, placed so that the old pixels stay where they were in the design.
#include "edit/resize.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "frame/dialogs.h"
#include "host/mdlelement.h"
#include "host/mdlgeom.h"
#include "host/mdlsystem.h"
#include "host/messages.h"
#include "raster/bitmap.h"
#include "raster/clip.h"
#include "raster/commit.h"
#include "raster/context.h"
#include "raster/geometry.h"
#include "settings/settings.h"
#include "stamp/bitmap.h"

namespace {

constexpr int DRAW_MODE_Dynamics = 3;
constexpr int EDGE_TOP = 1, EDGE_BOTTOM = 2, EDGE_LEFT = 3, EDGE_RIGHT = 4;

// Module state of the resize tool.
struct ResizeState {
    int dragEdge = 0;                         // 0 none, else the edge being dragged (EDGE_*)
    std::array<int, 4> savedAmounts{};        // the amounts when the edge was grabbed, restored by a reset
    double handleSize = 0.0;                  // design units: grab distance and arrow length
    std::array<DPoint3d, 5> handleCentres{};  // entries 1-4: middle of the top, bottom, left, right edge
    DPoint3d resizeOrigin{};                  // lower-left corner of the new canvas as last drawn
};

ResizeState g_resize;

// The amount of an edge (1 top, 2 bottom, 3 left, 4 right), in the order the amounts are stored.
int& amountOf(int edge) {
    t_globals& g = s__globals;
    switch (edge) {
    case EDGE_TOP:
        return g.ResizeRowsEnd;
    case EDGE_BOTTOM:
        return g.ResizeRowsStart;
    case EDGE_LEFT:
        return g.ResizeColumnsStart;
    default:
        return g.ResizeColumnsEnd;
    }
}

std::array<int, 4> amountsNow() { return {amountOf(1), amountOf(2), amountOf(3), amountOf(4)}; }

// Whole pixels of a side (the target's sizes are whole numbers; the cast truncates).
long long wholePixels(double side) { return static_cast<long long>(side); }

// A pixel count with the locale's digit grouping; negative counts keep their sign.
std::string numberText(long long n) {
    const unsigned long long magnitude = n < 0 ? 0ull - static_cast<unsigned long long>(n) : n;
    const char* digits = pc_numberFmt(static_cast<std::uint32_t>(std::min<unsigned long long>(magnitude, 0xFFFFFFFFu)));
    return (n < 0 ? "-" : "") + std::string(digits);
}

void v_sizeTextSet(char* text, std::size_t capacity, long long width, long long height) {
    std::snprintf(text, capacity, "%s x %s", numberText(width).c_str(), numberText(height).c_str());
}

// Width and height of the canvas the amounts give.
long long newWidth(const RasterTarget& t) {
    return wholePixels(t.widthPx) + s__globals.ResizeColumnsEnd + s__globals.ResizeColumnsStart;
}
long long newHeight(const RasterTarget& t) {
    return wholePixels(t.heightPx) + s__globals.ResizeRowsStart + s__globals.ResizeRowsEnd;
}

void v_newSizeTextSet() {
    const RasterTarget* t = currentTarget();
    if (!t) return;
    v_sizeTextSet(s__globals.ResizeNewSizeText, sizeof s__globals.ResizeNewSizeText, newWidth(*t), newHeight(*t));
}

// The new canvas's corners in design coordinates: lower left, lower right, upper right, upper left.
std::array<DPoint3d, 4> canvasCorners(const RasterTarget& t) {
    const t_globals& g = s__globals;
    const double sx = t.pixelSizeX, sy = t.pixelSizeY;
    const double left = -g.ResizeColumnsStart * sx, right = g.ResizeColumnsEnd * sx + t.extentX;
    const double bottom = -g.ResizeRowsStart * sy, top = g.ResizeRowsEnd * sy + t.extentY;
    std::array<DPoint3d, 4> c{{{left, bottom, 0.0}, {right, bottom, 0.0}, {right, top, 0.0}, {left, top, 0.0}}};
    const double a = t.affinity * fc_piover180;
    for (DPoint3d& p : c) {
        p.x -= std::sin(a) * p.y;
        p.y *= std::cos(a);
    }
    RotMatrix turn;
    mdlRMatrix_fromAngle(&turn, t.rotation * fc_piover180);
    mdlRMatrix_rotatePointArray(c.data(), &turn, 4);
    mdlVec_addPointArray(c.data(), &t.origin, 4);
    return c;
}

// Moves the dragged edge to the pixel position (px, py), never across the opposite edge.
void v_dragTo(const RasterTarget& t, double px, double py) {
    t_globals& g = s__globals;
    const double w = t.widthPx, h = t.heightPx;
    switch (g_resize.dragEdge) {
    case EDGE_TOP:
        if (py > 0 && py > -g.ResizeRowsStart) g.ResizeRowsEnd = static_cast<int>(py - h);
        break;
    case EDGE_BOTTOM:
        if (py < h && py < h + g.ResizeRowsEnd) g.ResizeRowsStart = static_cast<int>(-py);
        break;
    case EDGE_LEFT:
        if (px < w && px < w + g.ResizeColumnsEnd) g.ResizeColumnsStart = static_cast<int>(-px);
        break;
    case EDGE_RIGHT:
        if (px > 0 && px > -g.ResizeColumnsStart) g.ResizeColumnsEnd = static_cast<int>(px - w);
        break;
    default:
        break;
    }
}

void v_elementShow(const DPoint3d* points, int count, int color, int weight, int drawMode) {
    auto element = std::make_unique<MSElement>();
    if (mdlShape_create(element.get(), nullptr, points, count, 0) != 0) return;
    const int style = 0;
    mdlElement_setSymbology(element.get(), &color, &weight, &style);
    mdlElement_display(element.get(), drawMode);
}

// One double-arrow handle at the middle of the edge from-to; third is the canvas corner that follows
// to, so the first head points into the canvas and the second out of it.
void v_resizeHandleDraw(const DPoint3d& from, const DPoint3d& to, const DPoint3d& third, int edge, int drawMode) {
    const DPoint3d centre{(from.x + to.x) / 2, (from.y + to.y) / 2, 0.0};
    g_resize.handleCentres[std::size_t(edge)] = centre;
    // The frame's x axis leads from the edge toward the opposite one (third - to), at right angles to the edge.
    double dx = third.x - to.x, dy = third.y - to.y;
    const double length = std::hypot(dx, dy);
    if (!(length > 0)) return;
    dx /= length;
    dy /= length;
    const double s = g_resize.handleSize;
    const double local[5][2] = {{0, 0}, {s, 0}, {0.6 * s, 0.2 * s}, {0.6 * s, -0.2 * s}, {s, 0}};
    const int color = edge == g_resize.dragEdge ? 3 : 0;
    for (double turn : {1.0, -1.0}) {
        DPoint3d arrow[5];
        for (int i = 0; i < 5; ++i) {
            const double x = turn * local[i][0], y = turn * local[i][1];
            arrow[i] = {centre.x + x * dx - y * dy, centre.y + x * dy + y * dx, 0.0};
        }
        v_elementShow(arrow, 5, color, 0, drawMode);
    }
}

void v_resizePoint(const DPoint3d* point, int /*view*/) {
    if (g_resize.dragEdge != 0) {
        g_resize.dragEdge = 0;
        return;
    }
    for (int edge = EDGE_TOP; edge <= EDGE_RIGHT; ++edge) {
        const DPoint3d& c = g_resize.handleCentres[std::size_t(edge)];
        if (std::hypot(point->x - c.x, point->y - c.y, point->z - c.z) < g_resize.handleSize) {
            g_resize.dragEdge = edge;
            g_resize.savedAmounts = amountsNow();
            return;
        }
    }
}

void v_resizeReset() {
    if (g_resize.dragEdge == 0) {
        mdlState_startDefaultCommand();
        return;
    }
    for (int edge = EDGE_TOP; edge <= EDGE_RIGHT; ++edge) amountOf(edge) = g_resize.savedAmounts[std::size_t(edge - 1)];
    g_resize.dragEdge = 0;
    v_toolSettingsRefresh();
}

void v_resizeDynamics(const DPoint3d* point, int /*view*/, int drawMode) {
    const RasterTarget* t = currentTarget();
    if (!t) return;
    if (drawMode == DRAW_MODE_Dynamics) {
        if (g_resize.dragEdge != 0 && point) {
            DPoint3d pixel;
            v_designToPixel(t, &pixel, point);
            v_dragTo(*t, pixel.x, pixel.y);
        }
        v_newSizeTextSet();
        v_toolSettingsRefresh();
    }
    const auto c = canvasCorners(*t);
    g_resize.resizeOrigin = c[0];
    v_resizeHandleDraw(c[0], c[1], c[3], EDGE_BOTTOM, drawMode);
    v_resizeHandleDraw(c[1], c[2], c[0], EDGE_RIGHT, drawMode);
    v_resizeHandleDraw(c[2], c[3], c[1], EDGE_TOP, drawMode);
    v_resizeHandleDraw(c[3], c[0], c[2], EDGE_LEFT, drawMode);
    v_elementShow(c.data(), 4, 0, 2, drawMode);
}

// True when the new canvas holds at least one pixel and fits in one buffer; otherwise tells the user.
bool b_canvasAcceptable(const RasterTarget& t, long long width, long long height) {
    const double bytes = double(width) * double(height) * double(std::max(t.bitsPerPixel, 1u)) / 8.0;
    if (width > 0 && height > 0 && bytes < 2147483647.0) return true;
    char text[600];
    std::snprintf(text, sizeof text,
                  width <= 0 || height <= 0
                      ? "The new canvas of %s would be %lld x %lld pixels: no pixel would be left. Please remove "
                        "fewer rows or columns."
                      : "The new canvas of %s would be %lld x %lld pixels: too large for PixelMend to edit. Please "
                        "add fewer rows or columns.",
                  t.filePath, width, height);
    j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR);
    return false;
}

// Reads the raster over a canvas of the canvas colour (the added margins keep it) and commits it.
void v_canvasCommit(RasterTarget& t, const PixelBlock& block, const BitmapSize& size) {
    UndoGroup undo;
    PixelBuffer canvas;
    v_bitmapNewCanvas(canvas.slot(), &size);
    if (!canvas) {
        v_hostErrorReport(MDLERR_INSFMEMORY);
        return;
    }
    PixelFormat format{};
    format.colorMode = t.colorMode;
    // Scoped so that the clip masks go back onto the raster that shows the pixels afterwards.
    EditScope scope(currentRaster(), &t);
    v_rasterClipMasks("OFF");
    int status = ERROR;
    {
        NeutralRendering neutral;
        BitmapSize read = size;
        status = j_bitmapRead(canvas.slot(), &format, &block, &read);
    }
    DgnRasterP created = nullptr;
    if (status == SUCCESS) {
        DPoint3d origin = canvasCorners(t)[0];
        g_resize.resizeOrigin = origin;
        created = pv_rasterCommitFile(canvas.get(), &size, &origin, nullptr, nullptr, "resized",
                                      s__globals.ResizeCopy != 0, false, true);
    }
    if (created) scope.v_select(created, nullptr);
    v_rasterClipMasks("ON");
}

}  // namespace

void v_resizeStart(int view) {
    g_resize.dragEdge = 0;
    DPoint3d origin{}, extent{};
    mdlView_getParameters(&origin, nullptr, &extent, nullptr, nullptr, view);
    g_resize.handleSize = 0.02 * std::hypot(extent.x, extent.y);
    mdlState_startPrimitive(&v_resizePoint, &v_resizeReset, activeCommand(), 0);
    StateCallback::SetComplexDynamicsFunction(&v_resizeDynamics);
    if (const RasterTarget* t = currentTarget())
        v_sizeTextSet(s__globals.ResizeOldSizeText, sizeof s__globals.ResizeOldSizeText, wholePixels(t->widthPx),
                      wholePixels(t->heightPx));
    v_toolSettingsRefresh();
}

void v_resizeApply() {
    RasterTarget* t = currentTarget();
    if (t && currentRaster()) {
        const t_globals& g = s__globals;
        PixelBlock block{};
        block.x = -g.ResizeColumnsStart;
        block.y = -g.ResizeRowsStart;
        block.width = double(newWidth(*t));
        block.height = double(newHeight(*t));
        block.valid = 1;
        if (b_canvasAcceptable(*t, newWidth(*t), newHeight(*t)))
            v_canvasCommit(*t, block, BitmapSize{int(newWidth(*t)), int(newHeight(*t))});
    }
    g_resize.dragEdge = 0;
    mdlState_startDefaultCommand();
}

void v_resizeCancel() {
    g_resize.dragEdge = 0;
    mdlState_startDefaultCommand();
}

void v_resizeFieldChanged(int field) {
    if (field >= EDGE_TOP && field <= EDGE_RIGHT) {
        if (field == g_resize.dragEdge)
            g_resize.dragEdge = 0;
        else
            g_resize.savedAmounts[std::size_t(field - 1)] = amountOf(field);
    }
    v_newSizeTextSet();
    v_toolSettingsRefresh();
}
