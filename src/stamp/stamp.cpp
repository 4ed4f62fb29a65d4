// The stamp command: gathers the elements of a fence, a block, the selection or everything over the
// raster, counts them and asks, then draws them into a block of the raster's pixels read through the
// working bitmap, and writes the block back, all in one undo group. With StampDelete the stamped
// elements of the active model are deleted in the same group (their pieces outside the raster stay).
//
// A run is two passes over the same element set. The count pass measures each element's range (so
// that a selection or the whole-raster mode reads only the block the elements cover) and counts the
// elements inside the boundary; the draw pass strokes each element into the drawing surface.
#include "stamp/stamp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "edit/block.h"
#include "edit/blockops.h"
#include "host/mdlclip.h"
#include "host/mdlexpand.h"
#include "host/mdlscan.h"
#include "host/mdlsystem.h"
#include "host/messages.h"
#include "raster/bitmap.h"
#include "raster/clip.h"
#include "raster/context.h"
#include "raster/geometry.h"
#include "raster/target.h"
#include "resources/ids.h"
#include "settings/settings.h"
#include "stamp/bitmap.h"

namespace {

constexpr int STAMP_MODE_FENCE = 0;
constexpr int STAMP_MODE_SELECTED = 3;
constexpr int STAMP_MODE_OVERLAPPING = 5;
constexpr int RASTER_FRAME_TYPE = 94;
constexpr int SCAN_BUFFER_ENTRIES = 2048;
constexpr double MEASURE_MARGIN_PIXELS = 5.0;

// Module state of one stamp run.
struct StampState {
    int countOnly = 0;               // 1 in the count pass, 0 in the draw pass
    int firstElement = 0;            // the next measured range starts stampBlock afresh
    std::int32_t stampCount = 0;     // elements inside the boundary (count pass); 0 when declined
    std::int32_t stampDone = 0;      // elements handled so far in the draw pass
    ClipDescr* stampClip = nullptr;  // the boundary as a clip descriptor, or none
    PixelBlock stampBlock{};         // the raster's block the run reads, draws and writes
    int viewFill = 1;                // the run's view shows fills
    int regionMode = 0;              // outlines are collected as regions (inside a filled grouped-hole cell)
    int clipping = 0;                // the element now stroked is already a piece cut to the boundary
    int wholeInside = 0;             // the element now drawn lies wholly inside the boundary: nothing to cut
    StampSymbology savedFill{};      // symbology of the last filled component of the current grouped-hole cell
};

StampState g_stamp;

int n_view() { return s__globals.OperationView; }

bool b_modeMeasures() {
    return s__globals.StampMode == STAMP_MODE_SELECTED || s__globals.StampMode == STAMP_MODE_OVERLAPPING;
}

// Descriptor chains and host buffers freed when the scope ends.
struct DescriptorOwner {
    MSElementDescr* descriptor = nullptr;
    DescriptorOwner() = default;
    explicit DescriptorOwner(MSElementDescr* d) : descriptor(d) {}
    DescriptorOwner(const DescriptorOwner&) = delete;
    DescriptorOwner& operator=(const DescriptorOwner&) = delete;
    ~DescriptorOwner() {
        if (descriptor) mdlElmdscr_freeAll(&descriptor);
    }
};

struct HostBuffer {
    void* buffer = nullptr;
    HostBuffer() = default;
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;
    ~HostBuffer() {
        if (buffer) dlmSystem_mdlFree(buffer);
    }
};

// ---- Symbology ----

// Splits a LineStyle text ("7,4,1,4") into dash and gap lengths; at most 32 entries.
void v_dashesParse(const char* text, StampSymbology* out) {
    char copy[64];
    std::snprintf(copy, sizeof copy, "%s", text);
    for (char* piece = std::strtok(copy, ","); piece && out->dashCount < 32; piece = std::strtok(nullptr, ","))
        out->dashes[out->dashCount++] = static_cast<std::uint32_t>(std::atoi(piece));
}

void v_colorCopy(std::uint8_t* to, const RGBColorDef& from) {
    to[0] = from.red;
    to[1] = from.green;
    to[2] = from.blue;
}

// The palette entry nearest to colour, in place (palette targets receive only their own colours).
void v_colorToPalette(std::uint8_t* colour, const RasterTarget* target) {
    const RGBColorDef wanted{colour[0], colour[1], colour[2]};
    const int index =
        mdlColor_searchRGBArray(&wanted, reinterpret_cast<const RGBColorDef*>(target->palette), target->paletteCount);
    if (index < 0) return;
    std::memcpy(colour, target->palette[index], 3);
}

}  // namespace

// Pen, dashes and colours of element as it shows in the run's view, for the current target.
void v_stampSymbology(const MSElementDescr* element, DgnModelRefP modelRef, StampSymbology* out) {
    *out = StampSymbology{};
    std::uint32_t color = 0, weight = 0, fillColor = 0;
    std::int32_t style = 0;
    mdlElement_getEffectiveSymbology(&color, &weight, &style, &fillColor, element, modelRef, n_view());
    if (static_cast<std::uint32_t>(style) <= 7) v_dashesParse(s__globals.LineStyle[style], out);
    out->penWidth = static_cast<std::uint32_t>(s__globals.LineWeight[std::min<std::uint32_t>(weight, 31)]);
    const RasterTarget* target = currentTarget();
    if (!target || target->colorMode == IMAGECOLOR_Monochrome) {
        std::memset(out->lineColor, 255, 3);
        std::memset(out->fillColor, 255, 3);
        std::memset(out->backColor, 0, 3);
        return;
    }
    RGBColorDef rgb{};
    if (mdlColor_elementColorToRGB(&rgb, color, modelRef) == 0) v_colorCopy(out->lineColor, rgb);
    rgb = {};
    if (mdlColor_elementColorToRGB(&rgb, fillColor, modelRef) == 0) v_colorCopy(out->fillColor, rgb);
    std::memcpy(out->backColor, target->bgColor, 3);
    // Only indexed pixels take palette entries: the host hands every raster a palette, and a colour
    // raster must receive the element's own colour.
    if (target->hasPalette && target->bitsPerPixel <= 8) {
        v_colorToPalette(out->lineColor, target);
        v_colorToPalette(out->fillColor, target);
        v_colorToPalette(out->backColor, target);
    }
}

namespace {

// ---- Measuring and stroking one simple element ----

// Count pass: the element's range grown by 5 pixels (or half its pen, when wider) joins stampBlock.
void v_stampMeasure(const MSElementDescr* element, DgnModelRefP modelRef) {
    const RasterTarget* target = currentTarget();
    DRange3d range{};
    if (!target || mdlElement_extractRange(&range, element) != 0) return;
    StampSymbology symbology{};
    v_stampSymbology(element, modelRef, &symbology);
    const double margin = std::max(MEASURE_MARGIN_PIXELS, std::ceil(symbology.penWidth / 2.0));
    const double mx = margin * target->pixelSizeX, my = margin * target->pixelSizeY;
    const double x0 = range.low.x - mx, x1 = range.high.x + mx;
    const double y0 = range.low.y - my, y1 = range.high.y + my;
    // All four corners: on a rotated raster two opposite corners do not bound the range in pixels.
    const DPoint3d corners[4] = {{x0, y0, 0.0}, {x1, y0, 0.0}, {x1, y1, 0.0}, {x0, y1, 0.0}};
    PixelBlock grown{};
    v_pixelBlockFromPoints(target, &grown, nullptr, corners, 4, 1);
    if (g_stamp.firstElement) {
        g_stamp.stampBlock = grown;
        g_stamp.firstElement = 0;
        return;
    }
    PixelBlock& b = g_stamp.stampBlock;
    const double left = std::min(b.x, grown.x), top = std::min(b.y, grown.y);
    const double right = std::max(b.x + b.width, grown.x + grown.width);
    const double bottom = std::max(b.y + b.height, grown.y + grown.height);
    b.x = left;
    b.y = top;
    b.width = right - left;
    b.height = bottom - top;
}

// A pixel coordinate truncated toward zero and held within 32 bits; a value within a millionth of a whole
// number is that number (a point cut to the boundary comes back from the clipping plane a hair off).
LONG n_wholePixel(double v) {
    const double nearest = std::round(v);
    if (std::fabs(v - nearest) < 1e-6) v = nearest;
    return static_cast<LONG>(std::clamp(v, -2147483647.0, 2147483647.0));
}

// Draw pass: the element's stroked points, in whole pixels of stampBlock, drawn as its kind asks.
void v_stampStroke(const MSElementDescr* element, DgnModelRefP modelRef) {
    const RasterTarget* target = currentTarget();
    if (!target) return;
    HostBuffer stroked;
    DPoint3d* points = nullptr;
    int count = 0;
    const int status = mdlElmdscr_stroke(&points, &count, element, target->halfPixel);
    stroked.buffer = points;
    if (status != 0 || !points || count <= 0) return;
    std::vector<DPoint2d> pixels(static_cast<std::size_t>(count));
    v_designToBlockPixels(&g_stamp.stampBlock, pixels.data(), points, count);
    std::vector<POINT> whole(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        whole[i].x = n_wholePixel(pixels[i].x);
        whole[i].y = n_wholePixel(pixels[i].y);
    }
    StampSymbology symbology{};
    v_stampSymbology(element, modelRef, &symbology);
    std::uint8_t hole = 0;
    mdlElement_getProperties(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &hole, element);
    const bool filled = mdlElement_isFilled(element);
    if (g_stamp.viewFill == 0) {
        v_stampDrawLineString(whole.data(), count, &symbology);
    } else if (g_stamp.regionMode) {
        v_stampCreateRegion(whole.data(), count, &symbology, hole == 1);
        if (filled) g_stamp.savedFill = symbology;
    } else if (filled) {
        symbology.fillFlag = 1;
        v_stampDrawPolygon(whole.data(), count, &symbology);
    } else {
        v_stampDrawLineString(whole.data(), count, &symbology);
    }
}

// One element without expansion: measured, cut to the boundary, or stroked.
void v_stampSimple(MSElementDescr* element, DgnModelRefP modelRef) {
    if (g_stamp.countOnly) {
        v_stampMeasure(element, modelRef);
        return;
    }
    if (g_stamp.stampClip && !g_stamp.clipping && !g_stamp.wholeInside) {
        MSElementDescr* inside = nullptr;
        const TerminalControlBlock* tcb = mdlSystem_getTcb();
        mdlClip_element(&inside, nullptr, element, modelRef, g_stamp.stampClip, tcb ? tcb->fenvw : n_view());
        DescriptorOwner pieces(inside);
        g_stamp.clipping = 1;
        if (inside) v_stampChain(inside, modelRef);
        g_stamp.clipping = 0;
        return;
    }
    v_stampStroke(element, modelRef);
}

// An expansion's result chain stamped, then freed; nothing when the host gives none.
void v_stampExpansion(int status, MSElementDescr* result, DgnModelRefP modelRef) {
    DescriptorOwner owner(result);
    if (status == 0 && result) v_stampChain(result, modelRef);
}

// A text element as the geometry of its glyph outlines.
void v_stampText(const MSElementDescr* element, DgnModelRefP modelRef) {
    ElementHandle handle(element, nullptr);
    DisplayHandler* display = handle.GetHandler().GetDisplayHandler();
    if (!display) return;
    ElementAgenda agenda;
    DropGeometry geometry;
    geometry.SetOptions(DropGeometry::DROP_OPTION_Text);
    if (display->Drop(handle, agenda, geometry) != 0) return;
    ElementHandle* dropped = agenda.GetFirstP();
    for (std::size_t i = 0; i < agenda.GetCount(); ++i)
        if (const MSElementDescr* d = dropped[i].GetElementDescrCP())
            v_stampChain(const_cast<MSElementDescr*>(d), modelRef);
}

// A cell: its components; a filled grouped-hole cell fills once with its holes open.
void v_stampCell(MSElementDescr* cell, DgnModelRefP modelRef) {
    MSElementDescr* first = mdlElmdscr_firstComponent(cell);
    if (mdlElmdscr_isGroupedHole(cell) && first && mdlElement_isFilled(first)) g_stamp.regionMode = 1;
    if (first) v_stampChain(first, modelRef);
    if (!g_stamp.countOnly) v_stampDrawRegions(&g_stamp.savedFill);
    g_stamp.regionMode = 0;
}

// ---- Boundary and fence ----

// The user's fence, kept while a pass moves the fence and put back afterwards.
struct SavedFence {
    MSElementDescr* shape = nullptr;
    int view = 0;
    SavedFence() {
        TerminalControlBlock* tcb = mdlSystem_getTcb();
        if (tcb && tcb->fence != 0 && mdlFence_toElement(&shape) == 0) view = tcb->fenvw;
    }
    SavedFence(const SavedFence&) = delete;
    SavedFence& operator=(const SavedFence&) = delete;
    ~SavedFence() {
        if (!shape) {
            mdlFence_clear(true);
            return;
        }
        mdlFence_fromElement(shape, view);
        if (TerminalControlBlock* tcb = mdlSystem_getTcb()) tcb->fenvw = view;
        mdlElmdscr_freeAll(&shape);
    }
};

// The pass's boundary as a closed shape descriptor (the raster's outline, or the fence or block points),
// with the fence set from it as the mode asks; null when no shape can be made.
MSElementDescr* pv_boundaryShape() {
    std::vector<DPoint3d> points;
    if (b_modeMeasures()) {
        v_rasterCorners();
        const RasterTarget* target = currentTarget();
        points.assign(target->corners, target->corners + 4);
        points.push_back(target->corners[0]);
    } else {
        points.assign(g_block.blockOutline, g_block.blockOutline + g_block.blockOutlineCount);
    }
    auto shape = std::make_unique<MSElement>();
    MSElementDescr* descriptor = nullptr;
    if (points.size() < 3 ||
        mdlShape_create(shape.get(), nullptr, points.data(), std::min<int>(int(points.size()), MAX_VERTICES), 0) != 0 ||
        mdlElmdscr_new(&descriptor, nullptr, shape.get()) != 0)
        return nullptr;
    if (b_modeMeasures())
        mdlFence_fromElement(descriptor, n_view());
    else if (s__globals.StampMode != STAMP_MODE_FENCE)
        mdlFence_fromShape(shape.get());
    return descriptor;
}

// ---- The element sets ----

// Draw-pass progress (shown only when a completion bar is open).
void v_stampProgress() {
    ++g_stamp.stampDone;
    const std::int32_t total = std::max<std::int32_t>(g_stamp.stampCount, 1);
    v_progressUpdate("Stamp is in a progress. Please wait...",
                     double(std::int64_t(g_stamp.stampDone) * 40 / total + 30));
}

void v_gatherSelection() {
    std::uint32_t* positions = nullptr;
    DgnModelRefP* models = nullptr;
    int count = 0;
    mdlSelect_returnPositions(&positions, &models, &count);
    if (!g_stamp.countOnly && s__globals.StampDelete) mdlSelect_freeAll();
    for (int i = 0; i < count && positions && models; ++i) {
        MSElementDescr* descriptor = nullptr;
        if (mdlElmdscr_readToMaster(&descriptor, positions[i], models[i], 0, nullptr) == 0 || !descriptor) continue;
        DescriptorOwner owner(descriptor);
        v_stampCandidate(descriptor, models[i], positions[i]);
    }
    if (positions) dlmSystem_mdlFree(positions);
    if (models) dlmSystem_mdlFree(models);
    if (g_stamp.countOnly && g_stamp.stampCount == 0)
        j_messageBox(MSGBOX_NOTICE,
                     count <= 1 ? "Selected element is outside raster boundary."
                                : "Selected elements are outside raster boundary.",
                     ICON_ERROR);
}

// The elements of model M whose range meets range, shown in the run's view, in file order; elements
// added by this run (at or beyond the end of the active model when the scan started) are left out.
void v_gatherModel(DgnModelRefP model, const DRange3d& range) {
    ScanCriteria* criteria = mdlScanCriteria_create();
    if (!criteria) return;
    mdlScanCriteria_setReturnType(criteria, MSSCANCRIT_RETURN_FILEPOS, 1, 0);
    ScanRange scanRange{};
    mdlCnv_dRange3dToScanRange(&scanRange, &range);
    mdlScanCriteria_setRangeTest(criteria, &scanRange);
    mdlScanCriteria_setViewTest(criteria, n_view(), model);
    mdlScanCriteria_setModel(criteria, model);
    mdlScanCriteria_setDrawnElements(criteria);
    const std::uint32_t end = mdlElement_getFilePos(FILEPOS_EOF, nullptr);
    const bool active = mdlModelRef_isActiveModel(model);
    std::array<std::uint32_t, SCAN_BUFFER_ENTRIES> found{};
    for (;;) {
        int size = SCAN_BUFFER_ENTRIES;
        std::uint32_t next = 0;
        if (mdlScanCriteria_scan(criteria, found.data(), &size, &next) != BUFF_FULL || size < 1) break;
        const std::uint32_t filePos = found[0];
        if (active && filePos >= end) break;
        MSElementDescr* descriptor = nullptr;
        if (mdlElmdscr_readToMaster(&descriptor, filePos, model, 1, nullptr) == 0 || !descriptor) continue;
        DescriptorOwner owner(descriptor);
        if (mdlElement_getHeaderWord(descriptor, 0) & HEADER_SKIP_BIT) continue;
        v_stampCandidate(descriptor, model, filePos);
    }
    mdlScanCriteria_free(&criteria);
}

void v_gatherScan(const DRange3d& range) {
    ModelRefIterator* iterator = nullptr;
    if (mdlModelRefIterator_create(&iterator, mdlModelRef_getActive(), MRITERATE_Root | MRITERATE_PrimaryChildRefs,
                                   0) != 0)
        return;
    while (DgnModelRefP model = mdlModelRefIterator_getNext(iterator)) v_gatherModel(model, range);
    mdlModelRefIterator_free(&iterator);
    if (g_stamp.countOnly && g_stamp.stampCount == 0)
        j_messageBox(MSGBOX_NOTICE,
                     s__globals.StampMode == STAMP_MODE_OVERLAPPING
                         ? "There are no elements overlapping this raster file to stamp."
                         : "There are no elements overlapping the fence to be stamped.",
                     ICON_ERROR);
}

// The question before drawing; a "no" empties the set.
void v_stampAsk() {
    const char* label = s__globals.StampMode == STAMP_MODE_SELECTED ? "selected"
                        : s__globals.StampMode == STAMP_MODE_FENCE  ? "fenced"
                                                                    : "overlapping";
    char text[256];
    std::snprintf(text, sizeof text, "Stamp %s %s %s to raster file?", pc_numberFmt(std::uint32_t(g_stamp.stampCount)),
                  label, g_stamp.stampCount > 1 ? "elements" : "element");
    if (j_messageBox(MSGBOX_YESNO, text, ICON_QUESTION) == ACTIONBUTTON_NO) g_stamp.stampCount = 0;
}

// The block the draw pass works on: the measured block held inside the raster in the selection and
// whole-raster modes, the area's block in fence and block mode, else the whole raster.
void v_stampAreaSet(const RasterTarget* target) {
    PixelBlock& b = g_stamp.stampBlock;
    if (b_modeMeasures()) {
        const double left = std::max(0.0, b.x), top = std::max(0.0, b.y);
        const double right = std::min(target->widthPx, b.x + b.width);
        const double bottom = std::min(target->heightPx, b.y + b.height);
        b.x = std::floor(left);
        b.y = std::floor(top);
        b.width = std::max(0.0, std::ceil(right) - b.x);
        b.height = std::max(0.0, std::ceil(bottom) - b.y);
    } else if (s__globals.StampMode == STAMP_MODE_FENCE || s__globals.StampMode == 1) {
        v_pixelBlockFromPoints(target, &b, nullptr, g_block.blockOutline, g_block.blockOutlineCount, 1);
    } else {
        b = target->wholeBlock;
    }
}

// Reads stampBlock, draws the set into it and writes it back when anything was drawn.
void v_stampDraw(int view, const RasterTarget* target) {
    PixelFormat format{};
    format.colorMode = target->colorMode;
    PixelBuffer buffer;
    BitmapSize size{};
    int status;
    {
        NeutralRendering neutral;
        status = j_bitmapRead(buffer.slot(), &format, &g_stamp.stampBlock, &size);
    }
    if (status != SUCCESS || !buffer) return;
    const std::uint8_t* palette = nullptr;
    if (target->hasPalette)
        palette = target->palette[0];
    else if (format.paletteCount > 0)
        palette = format.palette[0];
    if (j_bitmapInit(buffer.get(), &size, int(target->bitsPerPixel), palette, 1) != 0) return;
    g_stamp.viewFill = mdlView_getDisplayControl(VIEW_DISPLAY_FILL, view);
    const std::int32_t drawn = n_stampGather(0);
    v_progressUpdate("Stamp is saving bitmap. Please wait...", 70.0);
    v_bitmapRelease(buffer.get(), &size, 1);
    if (drawn > 0) j_bitmapWrite(buffer.get(), &format, &g_stamp.stampBlock, &size);
}

}  // namespace

std::int32_t n_stampGather(int countPass) {
    SavedFence savedFence;
    DescriptorOwner boundary(pv_boundaryShape());
    if (g_stamp.stampClip) mdlClip_free(&g_stamp.stampClip);
    mdlClip_getFence(&g_stamp.stampClip);
    // The boundary's clip goes with the pass, also when the host leaves it early (a question unanswered).
    struct ClipRelease {
        ~ClipRelease() {
            if (g_stamp.stampClip) mdlClip_free(&g_stamp.stampClip);
        }
    } clipRelease;
    DRange3d range{};
    if (boundary.descriptor) mdlElement_extractRange(&range, boundary.descriptor);
    g_stamp.countOnly = countPass;
    g_stamp.firstElement = 1;
    if (countPass)
        g_stamp.stampCount = 0;
    else
        g_stamp.stampDone = 0;
    if (s__globals.StampMode == STAMP_MODE_SELECTED)
        v_gatherSelection();
    else if (boundary.descriptor)
        v_gatherScan(range);
    if (countPass && g_stamp.stampCount > 0 && s__globals.DisplayPrompts) v_stampAsk();
    return countPass ? g_stamp.stampCount : g_stamp.stampDone;
}

void v_stampCandidate(MSElementDescr* descriptor, DgnModelRefP modelRef, std::uint32_t filePos) {
    if (mdlElement_getType(descriptor) == RASTER_FRAME_TYPE) return;
    // The boundary test comes first in the draw pass so that an element wholly inside is drawn as it is,
    // without cutting each of its parts to the boundary (the pieces would be the parts themselves).
    bool overlap = false;
    const bool inside = g_stamp.stampClip && mdlClip_isElemInside(&overlap, descriptor, g_stamp.stampClip, n_view(), 1);
    g_stamp.wholeInside = !g_stamp.countOnly && inside && !overlap;
    v_stampElement(descriptor, modelRef);
    g_stamp.wholeInside = 0;
    const bool own = mdlModelRef_isActiveModel(modelRef);
    const bool deleting = !g_stamp.countOnly && s__globals.StampDelete && own;
    if (!g_stamp.stampClip) {
        if (deleting) mdlElmdscr_undoableDelete(descriptor, filePos, 1);
        return;
    }
    if (!inside) return;
    if (g_stamp.countOnly) {
        ++g_stamp.stampCount;
        return;
    }
    v_stampProgress();
    if (!deleting) return;
    MSElementDescr* insidePart = nullptr;
    MSElementDescr* outside = nullptr;
    mdlClip_element(&insidePart, &outside, descriptor, mdlModelRef_getActive(), g_stamp.stampClip, n_view());
    DescriptorOwner insidePieces(insidePart), outsidePieces(outside);
    if (outside) mdlElmdscr_add(outside);
    mdlElmdscr_undoableDelete(descriptor, filePos, 1);
}

void v_stampElement(MSElementDescr* descriptor, DgnModelRefP modelRef) {
    MSElementDescr* pattern = nullptr;
    if (mdlPattern_getElementDescr(&pattern, descriptor, modelRef, 0, 0) == 0) v_stampExpansion(0, pattern, modelRef);
    MSElementDescr* result = nullptr;
    switch (mdlElement_getType(descriptor)) {
    case CELL_HEADER_ELM:
        v_stampCell(descriptor, modelRef);
        break;
    case TEXT_NODE_ELM:
        if (MSElementDescr* first = mdlElmdscr_firstComponent(descriptor)) v_stampChain(first, modelRef);
        break;
    case TEXT_ELM:
        v_stampText(descriptor, modelRef);
        break;
    case DIMENSION_ELM: {
        const int status = mdlDim_getElementDescr(&result, descriptor, modelRef, 0);
        v_stampExpansion(status, result, modelRef);
        break;
    }
    case SHARED_CELL_ELM: {
        const int status = mdlSharedCell_toNormalCell(&result, descriptor, modelRef);
        DescriptorOwner owner(result);
        if (status == 0 && result)
            if (MSElementDescr* first = mdlElmdscr_firstComponent(result)) v_stampChain(first, modelRef);
        break;
    }
    case MULTILINE_ELM: {
        const int status = mdlMline_getElementDescr(&result, descriptor, modelRef, 0);
        v_stampExpansion(status, result, modelRef);
        break;
    }
    default:
        if (mdlLineStyle_getElementDescr(&result, descriptor, modelRef, 0) == 0)
            v_stampExpansion(0, result, modelRef);
        else
            v_stampSimple(descriptor, modelRef);
        break;
    }
}

void v_stampChain(MSElementDescr* first, DgnModelRefP modelRef) {
    for (MSElementDescr* d = first; d; d = mdlElmdscr_next(d)) {
        MSElementDescr* single = nullptr;
        if (mdlElmdscr_duplicateSingle(&single, d) != 0 || !single) continue;
        DescriptorOwner owner(single);
        if (mdlElmdscr_validate(single, mdlModelRef_getActive()) != 0) continue;
        v_stampElement(single, modelRef);
    }
}

void v_stampRun(int view) {
    s__globals.OperationView = view;
    const bool area = operationMode() == AREA_FENCE || operationMode() == AREA_BLOCK;
    if (area && !b_stampAreaChoose(view)) return;
    const RasterTarget* target = currentTarget();
    if (!target) return;
    g_stamp.stampBlock = target->wholeBlock;
    if (n_stampGather(1) == 0) return;
    v_stampAreaSet(target);
    {
        UndoGroup undo;
        v_promptShow(rid::PROMPT_WORKING);
        if (g_stamp.stampBlock.width >= 1 && g_stamp.stampBlock.height >= 1) v_stampDraw(view, target);
        v_progressClose();
    }
    mdlState_startDefaultCommand();
}

void v_stampReset() {
    if (g_stamp.stampClip) mdlClip_free(&g_stamp.stampClip);
    g_stamp = StampState{};
}
