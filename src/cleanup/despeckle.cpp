// Despeckle.
#include "cleanup/despeckle.h"

#include "frame/commands.h"
#include "host/mdlsystem.h"

void v_despeckleRun(int /*view*/) {
    v_featureLater("Despeckle");
    mdlState_startDefaultCommand();
}

void v_despeckleRelease() {}
