// Clip masks off and on, the neutral rendering used while reading pixels, undo
// grouping, and the report of host statuses.
#pragma once

#include "host/mdlraster.h"
#include "raster/target.h"

// Support address named in error messages.
constexpr const char* SUPPORT_EMAIL = "support@pixelmend.example";

// "OFF" takes the current raster's clip masks off and captures its boundary; any other mode puts them back.
void v_rasterClipMasks(const char* mode);
// "OFF" saves the rendering and applies the neutral one; "OOPS" re-applies it; "ON" restores the saved one.
void v_rasterDisplayMode(int command, DgnRasterP raster, const RasterTarget* target, const char* mode);
// v_rasterDisplayMode for the running command, the current raster and its target.
void v_rasterDisplayModeCurrent(const char* mode);
// Forgets the saved clip masks and rendering (load, unload).
void v_clipReset();
// Opens / closes one host undo group.
void v_undoGroupStart();
void v_undoGroupEnd();
// Shows the message for a non-zero host status; nothing for 0.
void v_hostErrorReport(int status);

// Holds one host undo group open for the lifetime of the object, whichever way its scope is left.
class UndoGroup {
public:
    UndoGroup() { v_undoGroupStart(); }
    ~UndoGroup() { v_undoGroupEnd(); }
    UndoGroup(const UndoGroup&) = delete;
    UndoGroup& operator=(const UndoGroup&) = delete;
};

// The neutral rendering on the current raster for the lifetime of the object: saved and applied when
// it is made, restored when it ends.
class NeutralRendering {
public:
    NeutralRendering() { v_rasterDisplayModeCurrent("OFF"); }
    ~NeutralRendering() { v_rasterDisplayModeCurrent("ON"); }
    NeutralRendering(const NeutralRendering&) = delete;
    NeutralRendering& operator=(const NeutralRendering&) = delete;
};
