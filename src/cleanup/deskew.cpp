// Deskew.
#include "cleanup/deskew.h"

#include "frame/commands.h"
#include "host/mdlsystem.h"

void v_deskewStart(int /*restart*/) {
    v_featureLater("Deskew");
    mdlState_startDefaultCommand();
}
