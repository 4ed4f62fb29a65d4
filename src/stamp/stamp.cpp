// The stamp command.
#include "stamp/stamp.h"

#include "edit/blockops.h"
#include "frame/commands.h"
#include "raster/context.h"
#include "host/mdlsystem.h"

void v_stampRun(int view) {
    if ((operationMode() == AREA_FENCE || operationMode() == AREA_BLOCK) && !b_stampAreaChoose(view)) return;
    v_featureLater("Stamp");
    mdlState_startDefaultCommand();
}
std::int32_t n_stampGather(int) { return 0; }
void v_stampCandidate(MSElementDescr*, DgnModelRefP, std::uint32_t) {}
void v_stampElement(MSElementDescr*, DgnModelRefP) {}
void v_stampChain(MSElementDescr*, DgnModelRefP) {}
void v_stampReset() {}
