// Resize canvas.
#include "edit/resize.h"

void v_resizeFieldChanged(int /*field*/) {
    // The amounts are stored by their fields' bindings; the canvas outline that
    // follows them is drawn once resize can pick a raster.
}
