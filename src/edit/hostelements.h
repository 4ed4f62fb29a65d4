// The host's element, fence and transient services as the block commands use
// them. Hosts without these services (an early substitute host) leave the
// symbols unresolved; the block commands then work on rasters only: no fence,
// no outline drawn, no vector elements carried along.
#pragma once

#include "host/mdlelement.h"

#pragma weak mdlShape_create
#pragma weak mdlElement_setSymbology
#pragma weak mdlElement_display
#pragma weak mdlElement_getFilePos
#pragma weak mdlElement_offset
#pragma weak mdlElement_transform
#pragma weak mdlElmdscr_new
#pragma weak mdlElmdscr_stroke
#pragma weak mdlElmdscr_undoableDelete
#pragma weak mdlModify_elementSingle
#pragma weak mdlTMatrix_getIdentity
#pragma weak mdlTMatrix_rotateByAngles
#pragma weak mdlTMatrix_scale
#pragma weak mdlFence_isDefined
#pragma weak mdlFence_toElement
#pragma weak mdlFence_fromShape
#pragma weak mdlFence_process
#pragma weak mdlFence_clear
#pragma weak mdlFence_getView
#pragma weak mdlSelect_isActive
#pragma weak mdlState_startFenceCommand
#pragma weak mdlTransient_addElement
#pragma weak mdlTransient_eraseDisplay
#pragma weak mdlTransient_free
#pragma weak mdlDialog_scaleSetInfo

// True when the host provides elements, fences and transients; false on a raster-only host.
inline bool b_hostHasElements() {
    return &mdlShape_create != nullptr && &mdlFence_isDefined != nullptr && &mdlTransient_addElement != nullptr &&
           &mdlState_startFenceCommand != nullptr && &mdlModify_elementSingle != nullptr;
}
