// The pixel operations on an area: copy and move (within a raster, into another
// raster or into a new file), delete, crop, the vector elements carried along,
// and the brush.
#include "edit/blockops.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "cleanup/despeckle.h"
#include "edit/block.h"
#include "frame/commands.h"
#include "host/hostwrap.h"
#include "host/mdlgeom.h"
#include "host/messages.h"
#include "raster/bitmap.h"
#include "raster/clip.h"
#include "raster/commit.h"
#include "raster/context.h"
#include "raster/geometry.h"
#include "raster/target.h"
#include "resources/ids.h"
#include "resources/resources.h"
#include "settings/settings.h"
#include "stamp/stamp.h"

namespace {

// Module state: the raster copy and move read from, kept across repeated copies.
struct BlockOpsState {
    DgnRasterP copySource = nullptr;
    DPoint3d fenceDestination = {};  // destination point of the vector elements carried along
    PixelBlock stampBlock = {};      // block the stamp works on in area mode
};

BlockOpsState g_blockOps;

// The area of an edit in one raster: pixel block, its lower-left design corner and the outline inside it.
struct PixelArea {
    PixelBlock block{};
    DPoint3d corner{};
    std::unique_ptr<DPoint2d[]> polygon;
    int count = 0;
    BitmapSize size{};
};

// Whole pixels of a block side, held within what a buffer size can say.
std::int32_t n_sidePixels(double side) { return static_cast<std::int32_t>(std::clamp(side, 0.0, 2147483647.0)); }

PixelFormat pixelFormat(std::uint32_t colorMode) {
    PixelFormat format{};
    format.colorMode = colorMode;
    return format;
}

int n_command() { return activeCommand(); }

bool b_areaMode() { return operationMode() == AREA_FENCE || operationMode() == AREA_BLOCK; }

const char* pc_outsideText() {
    return operationMode() == AREA_FENCE ? "Fence is outside raster boundary." : "Block is outside raster boundary.";
}

// The current target's pixel area of count design points.
PixelArea area_ofOutline(const DPoint3d* points, int count) {
    PixelArea area;
    v_pixelBlockFromPoints(currentTarget(), &area.block, &area.corner, points, count, 1);
    area.polygon = std::make_unique<DPoint2d[]>(std::size_t(std::max(count, 1)));
    area.count = count;
    v_designToBlockPixels(&area.block, area.polygon.get(), points, count);
    area.size = {n_sidePixels(area.block.width), n_sidePixels(area.block.height)};
    return area;
}

// The raster under the defined area, selected as the command's with its loaded record; null after the
// message and a restart of the area choice.
RasterTarget* pv_areaTarget(int view, bool allowReadOnly) {
    DgnRasterP raster = pv_rasterFindAtPoints(g_block.blockOutline, g_block.blockOutlineCount, view);
    if (!raster) {
        v_commandRasterSelect(nullptr, nullptr);
        j_messageBox(MSGBOX_NOTICE, pc_outsideText(), ICON_ERROR);
        v_operationStartAgain();
        return nullptr;
    }
    RasterTarget* target = pv_rasterTargetLoad(raster, allowReadOnly, false);
    v_commandRasterSelect(raster, target);
    if (!target) v_operationStartAgain();
    return target;
}

// Largest buffer an edit holds in memory; a block beyond it (a corner far off the raster) is refused.
constexpr double MAX_BUFFER_BYTES = 1.5e9;

// True when a buffer of size in the current target's depth holds at least one pixel and can be
// held in memory; otherwise tells the user which of the two it is.
bool b_sizeAcceptable(const BitmapSize& size) {
    const RasterTarget* target = currentTarget();
    if (target == nullptr) return false;
    const double bytes = double(size.width) * double(size.height) * double(std::max(target->bitsPerPixel, 1u)) / 8.0;
    const bool empty = size.width <= 0 || size.height <= 0;
    if (!empty && bytes <= MAX_BUFFER_BYTES) return true;
    char text[512];
    std::snprintf(text, sizeof text,
                  empty ? "A block of %d x %d pixels of %s holds no whole pixel. Please choose an area at least one "
                          "pixel wide and one pixel high."
                        : "A block of %d x %d pixels of %s is too large for PixelMend to edit. Please choose a smaller "
                          "area.",
                  size.width, size.height, target->filePath);
    j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR);
    return false;
}

// Reads area of the current raster under the neutral rendering into buffer; host status (reported),
// ERROR when the area is refused (the user has been told).
int j_areaRead(PixelBuffer& buffer, PixelFormat& format, PixelArea& area) {
    if (!b_sizeAcceptable(area.size)) return ERROR;
    NeutralRendering neutral;
    return j_bitmapRead(buffer.slot(), &format, &area.block, &area.size);
}

// Clip display on for the current raster, then the outline as a closed shape descriptor (null when impossible).
MSElementDescr* pv_outlineDescriptor(const DPoint3d* points, int count) {
    RasterRenderingInfo rendering{};
    // The substitute host shows clip masks and boundaries always; the rendering is written back unchanged.
    if (mdlRaster_renderingInfoGet(&rendering, currentRaster()) == 0)
        mdlRaster_renderingInfoSet(&rendering, currentRaster(), RASTER_OPTION_UNDOABLE);
    auto shape = std::make_unique<MSElement>();
    if (mdlShape_create(shape.get(), nullptr, points, std::min(count, MAX_VERTICES), 0) != 0) return nullptr;
    MSElementDescr* descriptor = nullptr;
    if (mdlElmdscr_new(&descriptor, nullptr, shape.get()) != 0) return nullptr;
    return descriptor;
}

// Vector elements inside the fence go along with the pixels when HybridMode is set.
void v_vectorsCarry(const DPoint3d* point) {
    if (s__globals.HybridMode == 1 && operationMode() == AREA_FENCE) mdlFence_process(point);
}

void v_viewRefresh(int view) {
    if (currentTarget() && currentTarget()->bitsPerPixel > 1) mdlView_updateSingle(view);
}

// Copy, move and delete work on a fence or a block; on a whole picked raster they would have nothing to place.
void v_wholeRasterRefuse() {
    char text[256];
    std::snprintf(text, sizeof text,
                  "%s works on a fence or a block. Please choose Fence or Block as its area in the PixelMend settings.",
                  pc_commandName(n_command()));
    j_messageBox(MSGBOX_NOTICE, text, ICON_INFO);
}

// Where copied pixels go: an existing raster (grown when asked) or a new file.
struct Destination {
    bool newFile = false;
    bool grow = false;
    bool sameRaster = false;
    DgnRasterP raster = nullptr;
    RasterTarget* target = nullptr;
};

// Chooses the destination of dstOutline while the source is current (its colour mode is compared);
// false to abandon the placement (the user has been asked or told).
bool b_destinationChoose(Destination& dst, const DPoint3d* dstOutline, int view) {
    dst.newFile = s__globals.CreateNewFile != 0;
    if (dst.newFile) return true;
    dst.raster = pv_rasterFindAtPoints(dstOutline, g_block.blockOutlineCount, view);
    if (!dst.raster) {
        char text[256];
        std::snprintf(text, sizeof text, "%s Would you like to create a new raster file?", pc_outsideText());
        if (j_messageBox(MSGBOX_YESNO, text, ICON_QUESTION) != ACTIONBUTTON_YES) return false;
        dst.newFile = true;
        return true;
    }
    dst.target = pv_rasterTargetLoad(dst.raster, false, true);
    if (!dst.target) return false;
    dst.grow = s__globals.ResizeDestination != 0;
    if (!dst.grow) {
        PixelBlock grown = dst.target->wholeBlock;
        v_pixelBlockFromPoints(dst.target, &grown, nullptr, dstOutline, g_block.blockOutlineCount, 0);
        if (grown.width != dst.target->wholeBlock.width || grown.height != dst.target->wholeBlock.height) {
            const int answer = j_messageBox(
                MSGBOX_YESNOCANCEL,
                "A portion of the copied data falls outside the boundary of the destination raster file. Would you "
                "like to resize the destination raster file's canvas so the copied data will fit?",
                ICON_QUESTION);
            if (answer == ACTIONBUTTON_CANCEL) return false;
            dst.grow = answer == ACTIONBUTTON_YES;
        }
    }
    dst.sameRaster = dst.raster == g_blockOps.copySource;
    return true;
}

// The current raster's block grown (size pixels) read over a canvas of the canvas colour under the
// neutral rendering; empty when there is no memory or the read failed (reported).
PixelBuffer buf_grownCanvas(const PixelBlock& grown, BitmapSize& size) {
    NeutralRendering neutral;
    PixelBuffer canvas;
    v_bitmapNewCanvas(canvas.slot(), &size);
    if (!canvas) {
        v_hostErrorReport(MDLERR_INSFMEMORY);
        return canvas;
    }
    PixelFormat format = pixelFormat(currentTarget()->transferColorMode);
    if (j_bitmapRead(canvas.slot(), &format, &grown, &size) != SUCCESS) canvas.v_release();
    return canvas;
}

// Rewrites the destination raster of scope larger so that dstOutline fits, and points scope at the
// grown raster; false when that failed or was refused (the user has been told).
bool b_destinationGrow(EditScope& destination, const DPoint3d* dstOutline, bool sameRaster) {
    const RasterTarget* target = destination.target();
    PixelBlock grown = target->wholeBlock;
    DPoint3d corner{};
    v_pixelBlockFromPoints(target, &grown, &corner, dstOutline, g_block.blockOutlineCount, 0);
    if (grown.width == target->wholeBlock.width && grown.height == target->wholeBlock.height) return true;
    BitmapSize size{n_sidePixels(grown.width), n_sidePixels(grown.height)};
    if (!b_sizeAcceptable(size)) return false;
    v_rasterClipMasks("OFF");
    PixelBuffer canvas = buf_grownCanvas(grown, size);
    DgnRasterP created = canvas ? pv_rasterCommitFile(canvas.get(), &size, &corner, nullptr, nullptr, "resized",
                                                      s__globals.ResizeCopy != 0, false, true)
                                : nullptr;
    // The masks go back onto the raster that now shows the pixels: the grown one when there is one.
    if (created) destination.v_select(created, nullptr);
    v_rasterClipMasks("ON");
    if (!created) return false;
    destination.v_select(created, pv_rasterTargetLoad(created, false, true));
    if (sameRaster) g_blockOps.copySource = created;
    return destination.target() != nullptr;
}

// Writes src (srcSize) into dstOutline of the current raster: direct, or kept to the outline and merged;
// 0, a host status (reported), or ERROR when the area is refused (the user has been told).
int j_destinationPaste(PixelBuffer& src, const BitmapSize& srcSize, const DPoint3d* dstOutline) {
    PixelArea dst = area_ofOutline(dstOutline, g_block.blockOutlineCount);
    if (!b_sizeAcceptable(dst.size)) return ERROR;
    const bool mask = b_polygonNeedsMask(&dst.block, dst.polygon.get(), dst.count);
    const bool merge = s__globals.MergePixels != 0;
    PixelFormat format = pixelFormat(currentTarget()->transferColorMode);
    NeutralRendering neutral;
    PixelBuffer under;
    int status = j_bitmapRead(under.slot(), &format, &dst.block, &dst.size);
    // The host fits the source pixels into the destination block; reading them back gives them at its size.
    if (status == SUCCESS) status = j_bitmapWrite(src.get(), &format, &dst.block, &srcSize);
    if (status != SUCCESS || !(mask || merge)) return status;
    src.v_release();
    status = j_bitmapRead(src.slot(), &format, &dst.block, &dst.size);
    if (status == SUCCESS && mask) {
        status = j_bitmapFillPolygon(src.get(), &dst.size, dst.polygon.get(), dst.count, 1);
        if (status == SUCCESS && !merge)
            status = j_bitmapFillPolygon(under.get(), &dst.size, dst.polygon.get(), dst.count, 0);
    }
    if (status == SUCCESS)
        status = j_bitmapMerge(under.get(), src.get(), pv_rasterTargetFind(g_blockOps.copySource), &dst.size);
    if (status == SUCCESS) status = j_bitmapWrite(under.get(), &format, &dst.block, &dst.size);
    return status;
}

// Base point of copy and move: the source raster and the block following the cursor.
void v_copyMoveBase(const DPoint3d* point, int view) {
    if (!pv_areaTarget(view, n_command() == CMD_COPY)) return;
    g_blockOps.copySource = currentRaster();
    g_block.anchorPoint = *point;
    StateCallback::SetComplexDynamicsFunction(&v_blockOutlineDynamics);
    v_promptShow(rid::PROMPT_DESTINATION);
    g_block.blockPointCounter = 1;
}

// src turned by the copy angle (nothing to do at angle 0); false when the image library failed (reported).
bool b_blockTurn(PixelBuffer& src, BitmapSize& srcSize, const RasterTarget& source) {
    if (s__globals.CopyAngle == 0) return true;
    std::uint8_t* turned = nullptr;
    BitmapSize turnedSize{};
    const int status = mdlImage_rotate(&turned, &turnedSize, src.get(), &srcSize, static_cast<int>(source.imageFormat),
                                       s__globals.CopyAngle);
    if (status != SUCCESS || turned == nullptr) {
        if (turned) dlmSystem_mdlFree(turned);
        v_hostErrorReport(status != SUCCESS ? status : MDLERR_INSFMEMORY);
        return false;
    }
    src.v_adoptHost(turned);
    srcSize = turnedSize;
    return true;
}

// One placement of the source block at point, in one undo group.
void v_copyMovePlace(const DPoint3d* point, int view) {
    const bool move = n_command() == CMD_MOVE;
    EditScope source(g_blockOps.copySource);
    if (!source.target()) return;
    const RasterTarget& sourceTarget = *source.target();
    PixelArea srcArea = area_ofOutline(g_block.blockOutline, g_block.blockOutlineCount);
    PixelFormat format = pixelFormat(sourceTarget.transferColorMode);

    UndoGroup undo;
    PixelBuffer src;
    BitmapSize srcSize = srcArea.size;
    if (j_areaRead(src, format, srcArea) != SUCCESS) return;
    PixelBuffer hole;
    if (move) {
        v_bitmapCopy(hole.slot(), src.get(), &srcSize);
        if (!hole) {
            v_hostErrorReport(MDLERR_INSFMEMORY);
            return;
        }
    }

    auto dstOutline = std::make_unique<DPoint3d[]>(MAX_OUTLINE_POINTS);
    v_blockPlace(dstOutline.get(), g_block.blockOutline, point, g_block.blockOutlineCount);
    Destination dst;
    if (!b_destinationChoose(dst, dstOutline.get(), view)) return;

    // Within one raster the hole is written before anything lands, so a move never copies its own hole;
    // elsewhere it is written once the pixels have landed, so a placement that fails or is cancelled
    // (the new file's name not given) leaves the source whole.
    const bool holeFirst = dst.sameRaster;
    auto b_holeWrite = [&]() {
        int status = j_bitmapFillPolygon(hole.get(), &srcArea.size, srcArea.polygon.get(), srcArea.count, 0);
        if (status == SUCCESS) status = j_bitmapWrite(hole.get(), &format, &srcArea.block, &srcArea.size);
        hole.v_release();
        return status == SUCCESS;
    };
    if (move && holeFirst && !b_holeWrite()) return;

    if (dst.newFile) {
        // A new file holds the unturned block; its placement carries the scales and the angle, so it is turned once.
        DPoint3d origin{};
        v_blockPlace(&origin, &srcArea.corner, point, 1);
        if (j_bitmapFillPolygon(src.get(), &srcSize, srcArea.polygon.get(), srcArea.count, 1) != SUCCESS) return;
        const double scale[2] = {s__globals.ScaleX, s__globals.ScaleY};
        if (!pv_rasterCommitFile(src.get(), &srcSize, &origin, scale, nullptr, "copied", true, true, false)) return;
    } else {
        if (!b_blockTurn(src, srcSize, sourceTarget)) return;
        EditScope destination(dst.raster, dst.target);
        if (dst.grow && !b_destinationGrow(destination, dstOutline.get(), dst.sameRaster)) return;
        if (j_destinationPaste(src, srcSize, dstOutline.get()) != SUCCESS) return;
    }
    src.v_release();
    if (move && !holeFirst && !b_holeWrite()) return;
    v_vectorsCarry(point);
    v_viewRefresh(view);

    if (move) {
        g_block.blockPointCounter = 0;
        v_operationResetAgain();
    }
}

// Hands the outline as a closed shape to a clip service of the current raster (a mask or the
// boundary), undoably; the host status is reported; nothing when the shape cannot be made.
void v_outlineClipSet(int (*clipSet)(MSElementDescr*, int, DgnRasterP, int), const DPoint3d* outline, int count) {
    if (MSElementDescr* descriptor = pv_outlineDescriptor(outline, count)) {
        v_hostErrorReport(clipSet(descriptor, 0, currentRaster(), RASTER_OPTION_UNDOABLE));
        mdlElmdscr_freeAll(&descriptor);
    }
}

// Delete of the work outline: a clip mask, or the inside filled with the canvas colour.
void v_areaDelete(const DPoint3d* outline, int count, const DPoint3d* point, int view) {
    if (s__globals.MaskMethod == 0) {
        v_outlineClipSet(&mdlRaster_clipMaskAdd, outline, count);
        return;
    }
    PixelArea area = area_ofOutline(outline, count);
    PixelFormat format = pixelFormat(currentTarget()->transferColorMode);
    PixelBuffer buffer;
    if (j_areaRead(buffer, format, area) != SUCCESS) return;
    int status = j_bitmapFillPolygon(buffer.get(), &area.size, area.polygon.get(), area.count, 0);
    if (status == SUCCESS) status = j_bitmapWrite(buffer.get(), &format, &area.block, &area.size);
    if (status != SUCCESS) return;
    v_viewRefresh(view);
    v_vectorsCarry(point);
}

// Despeckle inside the work outline; the speckles outside it stay.
void v_areaDespeckle(const DPoint3d* outline, int count, int view) {
    PixelArea area = area_ofOutline(outline, count);
    PixelFormat format = pixelFormat(currentTarget()->transferColorMode);
    PixelBuffer buffer;
    if (j_areaRead(buffer, format, area) != SUCCESS) return;
    v_despeckleArea(buffer, format, area.block, area.size, area.polygon.get(), area.count, view);
}

// Crop of the current raster to the defined area: a clip boundary, or a new file of the area's bounding block.
void v_areaCrop() {
    const DPoint3d* outline = g_block.blockOutline;
    const int count = g_block.blockOutlineCount;
    if (s__globals.ClipMethod == 0) {
        v_outlineClipSet(&mdlRaster_clipBoundarySet, outline, count);
        return;
    }
    PixelArea area = area_ofOutline(outline, count);
    PixelFormat format = pixelFormat(currentTarget()->colorMode);
    {
        UndoGroup undo;
        v_promptShow(rid::PROMPT_WORKING);
        v_rasterClipMasks("OFF");
        PixelBuffer buffer;
        if (j_areaRead(buffer, format, area) == SUCCESS &&
            j_bitmapFillPolygon(buffer.get(), &area.size, area.polygon.get(), area.count, 1) == SUCCESS)
            pv_rasterCommitFile(buffer.get(), &area.size, &area.corner, nullptr, nullptr, "cropped",
                                s__globals.CropCopy != 0, false, true);
        v_rasterClipMasks("ON");
        v_progressClose();
    }
    mdlState_startDefaultCommand();
}

}  // namespace

bool b_stampAreaChoose(int view) {
    if (!pv_areaTarget(view, false)) return false;
    v_pixelBlockFromPoints(currentTarget(), &g_blockOps.stampBlock, nullptr, g_block.blockOutline,
                           g_block.blockOutlineCount, 1);
    return true;
}

PixelBlock stampBlock() { return g_blockOps.stampBlock; }

void v_blockOpsReset() { g_blockOps = BlockOpsState{}; }

void v_copyMovePoint(const DPoint3d* point, int view) {
    if (g_block.blockPointCounter == 0)
        v_copyMoveBase(point, view);
    else
        v_copyMovePlace(point, view);
}

void v_areaProcessPoint(const DPoint3d* point, int view) {
    const bool allowReadOnly = n_command() == CMD_DELETE && s__globals.MaskMethod == 0;
    if (!pv_areaTarget(view, allowReadOnly)) return;
    const DPoint3d* outline = g_block.blockOutline;
    auto placed = std::make_unique<DPoint3d[]>(MAX_OUTLINE_POINTS);
    if (g_block.blockPointCounter == 0) {
        g_block.blockPointCounter = 1;
        g_block.anchorPoint = *point;
        StateCallback::SetComplexDynamicsFunction(&v_blockOutlineDynamics);
        v_blockTransientDrop();
    } else {
        v_blockOutlineDynamics(point, view, 0);
        v_blockPlace(placed.get(), g_block.blockOutline, point, g_block.blockOutlineCount);
        outline = placed.get();
    }
    UndoGroup undo;
    if (n_command() == CMD_DESPECKLE)
        v_areaDespeckle(outline, g_block.blockOutlineCount, view);
    else
        v_areaDelete(outline, g_block.blockOutlineCount, point, view);
}

void v_operationProcessPoint(const DPoint3d* /*point*/, int view) {
    s__globals.OperationView = view;
    const int command = n_command();
    if (command == CMD_COPY || command == CMD_MOVE || command == CMD_DELETE || (command == CMD_CROP && !b_areaMode())) {
        v_wholeRasterRefuse();
        mdlState_startDefaultCommand();
        return;
    }
    if (command == CMD_CROP) {
        if (!pv_areaTarget(view, s__globals.ClipMethod == 0)) return;
        v_areaCrop();
        return;
    }
    if (command == CMD_STAMP) {
        v_stampRun(view);
        return;
    }
    if (command == CMD_DESPECKLE) {
        v_despeckleRun(view);
        return;
    }
    // The brush shows its outline only: a data point ends it with the pixels unchanged.
    mdlState_startDefaultCommand();
}

int j_fenceElementContent(const DPoint3d* point) {
    g_blockOps.fenceDestination = *point;
    const std::uint32_t position = mdlElement_getFilePos(FILEPOS_CURRENT, nullptr);
    DgnModelRefP model = mdlModelRef_getActive();
    switch (n_command()) {
    case CMD_COPY:
        mdlModify_elementSingle(model, position, MODIFY_COPY, 0, &j_elementTransform, nullptr, 0);
        break;
    case CMD_MOVE:
        mdlModify_elementSingle(model, position, MODIFY_REPLACE, 0, &j_elementTransform, nullptr, 0);
        break;
    case CMD_DELETE:
        mdlElmdscr_undoableDelete(nullptr, position, 1);
        break;
    default:
        break;
    }
    return 0;
}

int j_elementTransform(MSElement* element) {
    const DPoint3d back{-g_block.anchorPoint.x, -g_block.anchorPoint.y, -g_block.anchorPoint.z};
    mdlElement_offset(element, &back);
    Transform transform;
    mdlTMatrix_getIdentity(&transform);
    mdlTMatrix_rotateByAngles(&transform, &transform, 0.0, 0.0, s__globals.CopyAngle * fc_piover180);
    mdlTMatrix_scale(&transform, &transform, s__globals.ScaleX, s__globals.ScaleY, 1.0);
    mdlElement_transform(element, &transform);
    mdlElement_offset(element, &g_blockOps.fenceDestination);
    return 1;
}

bool b_polygonNeedsMask(const PixelBlock* block, const DPoint2d* polygon, int count) {
    if (count < 4) return true;
    // Only the block's own rectangle may skip the mask: every vertex near a corner, and every corner visited
    // (a right triangle on three corners of its bounding block still needs one).
    const DPoint2d corners[4] = {{0.0, 0.0}, {block->width, 0.0}, {0.0, block->height}, {block->width, block->height}};
    bool visited[4] = {false, false, false, false};
    for (int i = 0; i < count; ++i) {
        bool near = false;
        for (int c = 0; c < 4; ++c) {
            if (std::fabs(polygon[i].x - corners[c].x) <= 1.0 && std::fabs(polygon[i].y - corners[c].y) <= 1.0) {
                near = true;
                visited[c] = true;
            }
        }
        if (!near) return true;
    }
    return !(visited[0] && visited[1] && visited[2] && visited[3]);
}

void v_brushStart() {
    const RasterTarget* target = currentTarget();
    const double smaller = std::min(target->widthPx, target->heightPx);
    s__globals.BrushSize = std::ceil(0.2 * smaller);
    if (MSDialog* settings = mdlDialog_getToolSettings()) {
        // The brush-size scale is the window's first item: its upper limit is the raster's smaller side.
        if (DialogItem* item = mdlDialog_itemGetByIndex(settings, 0)) {
            char label[32];
            std::snprintf(label, sizeof label, "%.0f", smaller);
            const std::wstring wide(label, label + std::strlen(label));
            mdlDialog_scaleSetInfo(item->rawItemP, smaller, wide.c_str());
        }
        mdlDialog_itemsSynch(settings);
    }
    g_block.blockOutlineCount = 5;
    mdlState_startPrimitive(&v_operationProcessPoint, pf_rasterPickStart(), CMD_BRUSH, rid::PROMPT_KEEP);
    StateCallback::SetComplexDynamicsFunction(&v_brushOutlineDynamics);
}

void v_brushOutlineDynamics(const DPoint3d* point, int /*view*/, int drawMode) {
    const RasterTarget* target = currentTarget();
    if (!target) return;
    const double hx = s__globals.BrushSize / 2.0 * target->pixelSizeX;
    const double hy = s__globals.BrushSize / 2.0 * target->pixelSizeY;
    DPoint3d* o = g_block.blockOutline;
    o[0] = {point->x - hx, point->y - hy, point->z};
    o[1] = {point->x + hx, point->y - hy, point->z};
    o[2] = {point->x + hx, point->y + hy, point->z};
    o[3] = {point->x - hx, point->y + hy, point->z};
    o[4] = o[0];
    g_block.blockOutlineCount = 5;
    if (drawMode == 0) return;
    auto shape = std::make_unique<MSElement>();
    if (mdlShape_create(shape.get(), nullptr, o, 5, 0) != 0) return;
    const int color = 0, weight = 0, style = 0;
    mdlElement_setSymbology(shape.get(), &color, &weight, &style);
    mdlElement_display(shape.get(), drawMode);
}
