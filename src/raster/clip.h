// Clip masks off and on, the neutral rendering used while reading pixels, undo
// grouping, and the report of host statuses.
#pragma once

#include <vector>

#include "host/mdlraster.h"
#include "raster/target.h"

// Support address named in error messages.
constexpr const char* SUPPORT_EMAIL = "support@pixelmend.example";

// Module state: what "OFF" took from the current raster and "ON" puts back.
struct ClipState {
    std::vector<MSElementDescr*> savedClipMasks;
    MSElementDescr* savedClipBoundary = nullptr;
    RasterRenderingInfo savedRendering{};
};

extern ClipState g_clip;

// "OFF" takes the current raster's clip masks off and captures its boundary; any other mode puts them back.
void v_rasterClipMasks(const char* mode);
// "OFF" saves the rendering and applies the neutral one; "OOPS" re-applies it; "ON" restores the saved one.
void v_rasterDisplayMode(int command, DgnRasterP raster, const RasterTarget* target, const char* mode);
// v_rasterDisplayMode for the running command, the current raster and its target.
void v_rasterDisplayModeCurrent(const char* mode);
// Opens / closes one host undo group.
void v_undoGroupStart();
void v_undoGroupEnd();
// Shows the message for a non-zero host status; nothing for 0.
void v_hostErrorReport(int status);
