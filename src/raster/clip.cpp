// Clip masks, neutral rendering, undo grouping and host error reports.
#include "raster/clip.h"

#include <cstdio>
#include <cstring>

#include "host/mdlsystem.h"
#include "host/messages.h"
#include "raster/context.h"

namespace {

// Module state: what "OFF" took from the current raster and "ON" puts back.
struct ClipState {
    std::vector<MSElementDescr*> savedClipMasks;
    MSElementDescr* savedClipBoundary = nullptr;
    RasterRenderingInfo savedRendering{};
};

ClipState g_clip;

}  // namespace

void v_rasterClipMasks(const char* mode) {
    DgnRasterP raster = currentRaster();
    if (std::strcmp(mode, "OFF") == 0) {
        int count = 0;
        mdlRaster_clipMaskCount(&count, raster);
        g_clip.savedClipMasks.clear();
        for (int i = 0; i < count; ++i) {
            MSElementDescr* mask = nullptr;
            if (mdlRaster_clipMaskGet(&mask, 0, 0, raster) != SUCCESS) break;
            g_clip.savedClipMasks.push_back(mask);
            mdlRaster_clipMaskRemove(0, raster, RASTER_OPTION_UNDOABLE);
        }
        g_clip.savedClipBoundary = nullptr;
        mdlRaster_clipBoundaryGet(&g_clip.savedClipBoundary, 0, raster);
        return;
    }
    for (MSElementDescr*& mask : g_clip.savedClipMasks) {
        mdlRaster_clipMaskAdd(mask, 0, raster, RASTER_OPTION_UNDOABLE);
        mdlElmdscr_freeAll(&mask);
    }
    g_clip.savedClipMasks.clear();
    if (g_clip.savedClipBoundary) {
        mdlRaster_clipBoundarySet(g_clip.savedClipBoundary, 0, raster, RASTER_OPTION_UNDOABLE);
        mdlElmdscr_freeAll(&g_clip.savedClipBoundary);
        g_clip.savedClipBoundary = nullptr;
    }
}

namespace {

void setRgb(std::uint8_t* rgb, std::uint8_t value) { rgb[0] = rgb[1] = rgb[2] = value; }

// The neutral rendering: no transparency, factor 1, and for monochrome rasters
// set bits shown black on white (reversed for a black background, and again
// reversed while despeckling).
RasterRenderingInfo neutralRendering(int command, DgnRasterP raster, const RasterTarget* target) {
    RasterRenderingInfo rendering{};
    mdlRaster_renderingInfoGet(&rendering, raster);
    rendering.transparencyFlags = 0;
    rendering.contrastFactor = 1.0;
    if (target && target->colorMode == IMAGECOLOR_Monochrome) {
        const bool inkWhite = (command == CMD_DESPECKLE) != (target->backgroundBlack != 0);
        setRgb(rendering.foreground, inkWhite ? 255 : 0);
        setRgb(rendering.background, inkWhite ? 0 : 255);
        rendering.foregroundTransparent = 0;
    }
    rendering.backgroundTransparent = 0;
    return rendering;
}

}  // namespace

void v_rasterDisplayMode(int command, DgnRasterP raster, const RasterTarget* target, const char* mode) {
    if (std::strcmp(mode, "ON") == 0) {
        mdlRaster_renderingInfoSet(&g_clip.savedRendering, raster, RASTER_OPTION_UNDOABLE);
        return;
    }
    if (std::strcmp(mode, "OFF") == 0) mdlRaster_renderingInfoGet(&g_clip.savedRendering, raster);
    const RasterRenderingInfo rendering = neutralRendering(command, raster, target);
    mdlRaster_renderingInfoSet(&rendering, raster, RASTER_OPTION_UNDOABLE);
}

void v_rasterDisplayModeCurrent(const char* mode) {
    v_rasterDisplayMode(editContext().command, currentRaster(), currentTarget(), mode);
}

void v_clipReset() {
    // Descriptors of an earlier load belonged to a host session that has already ended.
    g_clip = ClipState{};
}

void v_undoGroupStart() { mdlUndo_startGroup(); }

void v_undoGroupEnd() { mdlUndo_endGroup(); }

void v_hostErrorReport(int status) {
    if (status == SUCCESS) return;
    if (status == MDLERR_INSFMEMORY) {
        j_messageBox(MSGBOX_NOTICE, "Not enough memory to perform the operation", ICON_ERROR);
        return;
    }
    char text[512];
    std::snprintf(text, sizeof text,
                  "PixelMend encountered an unknown MicroStation error.\nPlease email %s and tell us about this "
                  "problem.\n\nStatus: %d. MDL error number: %d.",
                  SUPPORT_EMAIL, status, mdlErrno_get());
    j_messageBox(MSGBOX_NOTICE, text, ICON_ERROR);
}
