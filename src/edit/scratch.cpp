// The scratch raster area.
#include "edit/scratch.h"

void v_scratchDetach(bool /*quiet*/) {
    // No scratch raster can be attached yet, so there is nothing to detach.
}
