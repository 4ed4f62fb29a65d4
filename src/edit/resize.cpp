// Resize canvas.
#include "edit/resize.h"

#include "frame/commands.h"
#include "host/mdlsystem.h"

void v_resizeStart(int /*view*/) {
    v_featureLater("Resize");
    mdlState_startDefaultCommand();
}

void v_resizeApply() { v_featureLater("Resize apply"); }

void v_resizeCancel() { mdlState_startDefaultCommand(); }

void v_resizeFieldChanged(int /*field*/) {
    // The amounts are stored by their fields' bindings; the canvas outline that
    // follows them is drawn once resize can pick a raster.
}
