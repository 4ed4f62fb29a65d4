// Edit in an external program.
#include "edit/external.h"

#include "frame/commands.h"
#include "host/mdlsystem.h"

void v_editExternal() {
    v_featureLater("Edit");
    mdlState_startDefaultCommand();
}
