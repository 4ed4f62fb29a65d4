// The scratch raster area.
#include "edit/scratch.h"

#include "frame/commands.h"
#include "host/mdlsystem.h"

void v_scratchAttach() {
    v_featureLater("Scratch");
    mdlState_startDefaultCommand();
}

void v_scratchDetach(bool quiet) {
    if (!quiet) v_featureLater("Scratch");
}
