// Deskew: the three ways to the angle (detected, drawn along an edge, typed), the correction of the
// whole raster through the deskew library, and the canvas colour in the corners the turn uncovers.
#include "cleanup/deskew.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "cleanup/library.h"
#include "edit/block.h"
#include "frame/dialogs.h"
#include "host/mdlelement.h"
#include "host/mdlsystem.h"
#include "host/messages.h"
#include "raster/bitmap.h"
#include "raster/clip.h"
#include "raster/context.h"
#include "raster/target.h"
#include "resources/ids.h"
#include "settings/settings.h"
#include "stamp/bitmap.h"

namespace {

// Module state: the detection done since the tool last started afresh, and the first point of a
// line drawn along an edge.
struct DeskewState {
    bool angleDetected = false;
    bool firstPointSet = false;
    DPoint3d firstPoint{};
};

DeskewState g_deskew;

constexpr double k_maxAngle = 10.0;
constexpr double k_precision = 0.1;
constexpr double k_degreesPerRadian = 180.0 / 3.14159265358979323846;

constexpr const char* k_noSkewText =
    "PixelMend has scanned this entire raster file and it appears that it does not need to be deskewed. If you "
    "wish to deskew it anyway, please choose \"Define by 2 points\" or \"Enter manually\".";

using DetectEntry = double (*)(std::int64_t, void*, double, double, std::int64_t, std::int64_t);
using CorrectEntry = void (*)(std::int64_t, void*, double, std::int64_t, std::int64_t, std::int64_t);

void v_deskewApply(const DPoint3d* point, int view);
void v_deskewTwoPointsData(const DPoint3d* point, int view);
void v_deskewRestart();

// The mirroring around a correction that DeskewCorner asks for (0 and anything above 3: none).
struct CornerMirror {
    bool topBottom = false;  // mirror with 0
    bool leftRight = false;  // mirror with 1
    bool negate = false;     // the angle's sign is turned
};

CornerMirror cornerMirror(int corner) {
    switch (corner) {
    case 1:
        return {false, true, true};
    case 2:
        return {true, false, true};
    case 3:
        return {true, true, false};
    default:
        return {};
    }
}

// Mirrors buffer as corner asks (top-bottom first, then left-right; both are their own inverse).
void v_cornerMirror(const CornerMirror& corner, std::uint8_t* buffer, const BitmapSize& size, int imageFormat) {
    if (corner.topBottom) mdlImage_mirror(buffer, &size, imageFormat, false);
    if (corner.leftRight) mdlImage_mirror(buffer, &size, imageFormat, true);
}

// Makes sure the slot holds the deskew library with its entries; false when it cannot be loaded.
bool b_deskewLibraryReady() { return cleanupLibraryLoaded() == CleanupLibrary::Deskew || j_deskewInit() == 0; }

// Detection: the angle of the raster into DeskewAngle and DeskewAngleDetected; the library stays
// loaded for the correction.
void v_deskewDetectRun(WholeRaster& raster) {
    if (j_deskewInit() != 0) return;
    s__globals.DeskewAngle = 0.0;
    const int bits = int(currentTarget()->bitsPerPixel);
    if (j_bitmapInit(raster.buffer.get(), &raster.size, bits, raster.palette, 0) != 0) return;
    double angle = d_deskewDetect(k_maxAngle);
    if (!std::isfinite(angle)) angle = 0.0;
    s__globals.DeskewAngle = s__globals.DeskewAngleDetected = angle;
    if (angle == 0.0) j_messageBox(MSGBOX_NOTICE, k_noSkewText, ICON_INFO);
    v_bitmapRelease(raster.buffer.get(), &raster.size, 0);
}

// Turns buffer by angle through the library; false when the surface cannot be made.
bool b_bufferTurn(std::uint8_t* buffer, const BitmapSize& size, const std::uint8_t* palette, double angle) {
    if (j_bitmapInit(buffer, &size, int(currentTarget()->bitsPerPixel), palette, 0) != 0) return false;
    v_deskewCorrect(angle);
    v_bitmapRelease(buffer, &size, 0);
    return true;
}

// Paints the corners the turn uncovered: an all-set mask turned the same way comes back 0 there.
// Colour rasters take the canvas colour, palette rasters the canvas index. A monochrome raster is left
// as turned: its uncovered area comes back as clear bits, which is paper in the reading of every
// monochrome raster (black paper too), whatever palette its file carries.
void v_uncoveredFill(WholeRaster& raster, double angle) {
    const RasterTarget* target = currentTarget();
    const bool colour = target->bitsPerPixel >= 24;
    if (target->bitsPerPixel == 1 || (!colour && !raster.palette)) return;
    PixelBuffer mask(pv_bitmapAlloc(int(raster.bytes)));
    if (!mask) return;
    std::memset(mask.get(), 255, raster.bytes);
    if (!b_bufferTurn(mask.get(), raster.size, raster.palette, angle)) return;
    if (colour) {
        const CanvasRgb c = s__globals.CanvasColor;
        const std::uint8_t canvas[3] = {c.red, c.green, c.blue};
        v_deskewFillCanvas(raster.buffer.get(), mask.get(), raster.bytes,
                           s__globals.CanvasAuto ? target->bgColor : canvas, int(target->bitsPerPixel));
    } else {
        const std::uint8_t index =
            s__globals.CanvasAuto ? target->bgIndex : std::uint8_t(s__globals.CanvasColorIndex & 0xff);
        v_deskewFillCanvas(raster.buffer.get(), mask.get(), raster.bytes, &index, 8);
    }
}

// Correction: the raster turned by DeskewAngle (mirrored by DeskewCorner around it), its uncovered
// corners painted, and written back.
void v_deskewCorrectRun(WholeRaster& raster) {
    if (!b_deskewLibraryReady()) return;
    RasterTarget* target = currentTarget();
    const CornerMirror corner = cornerMirror(s__globals.DeskewCorner);
    const double angle = corner.negate ? -s__globals.DeskewAngle : s__globals.DeskewAngle;
    const int imageFormat = int(target->imageFormat);
    v_cornerMirror(corner, raster.buffer.get(), raster.size, imageFormat);
    if (!b_bufferTurn(raster.buffer.get(), raster.size, raster.palette, angle)) return;
    v_uncoveredFill(raster, angle);
    v_cornerMirror(corner, raster.buffer.get(), raster.size, imageFormat);
    j_bitmapWrite(raster.buffer.get(), &raster.format, &raster.block, &raster.size);
    v_deskewRelease();
}

// One pass over the whole raster: detection (detect) or correction, in one undo group.
void v_deskewRun(bool detect) {
    if (!currentTarget()) return;
    {
        UndoGroup undo;
        WholeRaster raster;
        if (b_cleanupWholeRead(raster)) {
            if (detect)
                v_deskewDetectRun(raster);
            else
                v_deskewCorrectRun(raster);
        }
    }
    if (!detect) mdlState_startDefaultCommand();
}

// The next data point applies DeskewAngle.
void v_applyStateStart() {
    mdlState_startPrimitive(&v_deskewApply, &v_deskewRestart, CMD_DESKEW, rid::PROMPT_DESKEW_ACCEPT);
}

void v_deskewRestart() { v_deskewStart(1); }

// Data point that applies DeskewAngle to the whole raster.
void v_deskewApply(const DPoint3d* /*point*/, int view) {
    const double angle = s__globals.DeskewAngle;
    if (angle == 0.0) {
        j_messageBox(MSGBOX_NOTICE,
                     s__globals.DeskewMode == 2
                         ? "You have entered a zero-degree skew angle. Please enter a skew angle between -10 and 10 "
                           "degrees."
                         : "Cannot deskew raster file based on a calculated skew angle of zero degrees. Please use "
                           "\"Define by 2 points\" or \"Enter manually\" to deskew this file anyway.",
                     ICON_INFO);
        return;
    }
    if (!(std::fabs(angle) <= k_maxAngle)) return;
    v_deskewRun(false);
    mdlView_updateSingle(view);
    mdlState_startDefaultCommand();
}

// Rubber line from the first point to the cursor.
void v_deskewDynamics(const DPoint3d* cursor, int /*view*/, int drawMode) {
    MSElement line{};
    line.type = LINE_ELM;
    line.numPoints = 2;
    line.points[0] = g_deskew.firstPoint;
    line.points[1] = *cursor;
    mdlElement_display(&line, drawMode);
}

// The angle of the line from the first point to point, less the raster's rotation (and affinity for a
// mostly vertical line); nullopt-like false when the line is exactly horizontal or vertical.
bool b_lineAngle(const DPoint3d& point, double* angle) {
    const double dx = point.x - g_deskew.firstPoint.x;
    const double dy = point.y - g_deskew.firstPoint.y;
    if (dx == 0.0 || dy == 0.0) return false;
    const RasterTarget* target = currentTarget();
    const double rotation = target ? target->rotation : 0.0;
    const double affinity = target ? target->affinity : 0.0;
    if (std::fabs(dx) > std::fabs(dy))
        *angle = std::atan(dy / dx) * k_degreesPerRadian - rotation;
    else
        *angle = -std::atan(dx / dy) * k_degreesPerRadian - rotation - affinity;
    return true;
}

// Data point of "define by 2 points".
void v_deskewTwoPointsData(const DPoint3d* point, int /*view*/) {
    if (!g_deskew.firstPointSet) {
        g_deskew.firstPoint = *point;
        g_deskew.firstPointSet = true;
        v_promptShow(rid::PROMPT_SKEW_SECOND);
        StateCallback::SetComplexDynamicsFunction(&v_deskewDynamics);
        return;
    }
    double angle = 0.0;
    if (!b_lineAngle(*point, &angle)) return;
    if (angle == 0.0) {
        j_messageBox(MSGBOX_NOTICE, k_noSkewText, ICON_ERROR);
        v_deskewStart(1);
        return;
    }
    if (std::fabs(angle) > k_maxAngle) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "Angle %f is too big to be deskewed. Please define a skew angle between -10 and 10 degrees.",
                      angle);
        j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR);
        v_deskewStart(1);
        return;
    }
    s__globals.DeskewAngle = angle;
    if (MSDialog* settings = mdlDialog_getToolSettings()) mdlDialog_itemsSynch(settings);
    v_applyStateStart();
}

}  // namespace

void v_deskewStart(int restart) {
    if (!restart) g_deskew.angleDetected = false;
    if (s__globals.DeskewMode == 1) {
        g_deskew.firstPointSet = false;
        mdlState_startPrimitive(&v_deskewTwoPointsData, &v_deskewRestart, CMD_DESKEW, rid::PROMPT_SKEW_FIRST);
    } else {
        // The prompt shows while the detection runs.
        mdlState_startPrimitive(nullptr, &v_deskewRestart, CMD_DESKEW, rid::PROMPT_DESKEW_ACCEPT);
        if (s__globals.DeskewMode == 0) {
            if (restart && g_deskew.angleDetected) {
                s__globals.DeskewAngle = s__globals.DeskewAngleDetected;
            } else {
                v_deskewRun(true);
                g_deskew.angleDetected = true;
            }
        }
        v_applyStateStart();
    }
    v_toolSettingsRefresh();
}

int j_deskewInit() {
    if (j_cleanupLibraryLoad(CleanupLibrary::Deskew) != 0) return -1;
    if (!pv_cleanupLibraryEntry("DESKEW_Detect") || !pv_cleanupLibraryEntry("DESKEW_Correct")) {
        v_cleanupLibraryRelease();
        return -1;
    }
    return 0;
}

double d_deskewDetect(double maxAngle) {
    if (cleanupLibraryLoaded() != CleanupLibrary::Deskew) return -1.0;
    auto detect = fn_cleanupEntry<DetectEntry>("DESKEW_Detect");
    if (!detect) return -1.0;
    return detect(n_cleanupLibraryHandle(), pv__bitmap.surface, maxAngle, k_precision, -1, 0);
}

void v_deskewCorrect(double angle) {
    if (cleanupLibraryLoaded() != CleanupLibrary::Deskew) return;
    if (auto correct = fn_cleanupEntry<CorrectEntry>("DESKEW_Correct"))
        correct(n_cleanupLibraryHandle(), pv__bitmap.surface, angle, 0, 0, 0);
}

void v_deskewFillCanvas(std::uint8_t* buffer, const std::uint8_t* mask, std::size_t size, const std::uint8_t* colour,
                        int bitsPerPixel) {
    if (!buffer || !mask || !colour) return;
    if (bitsPerPixel == 8) {
        for (std::size_t i = 0; i < size; ++i)
            if (mask[i] == 0) buffer[i] = colour[0];
        return;
    }
    if (bitsPerPixel != 24 && bitsPerPixel != 32) return;
    const std::size_t step = std::size_t(bitsPerPixel / 8);
    for (std::size_t i = 0; i + step <= size; i += step)
        if (mask[i] == 0 && mask[i + 1] == 0 && mask[i + 2] == 0) std::memcpy(buffer + i, colour, 3);
}

void v_deskewRelease() { v_cleanupLibraryRelease(); }

void v_deskewSettingsHook(DialogItemMessage* message) {
    const int type = message->messageType;
    if (type != DITEM_MESSAGE_SYNCHRONIZE && type != DITEM_MESSAGE_STATECHANGED && type != DITEM_MESSAGE_ALLCREATED) {
        message->msgUnderstood = false;
        return;
    }
    if (type == DITEM_MESSAGE_STATECHANGED && message->reallyChanged && currentTarget()) v_deskewStart(1);
    v_itemEnable(message->db, RTYPE_Text, rid::ITEM_DESKEW_ANGLE, s__globals.DeskewMode == 2);
}

void v_deskewStateReset() { g_deskew = DeskewState{}; }
