// Clipping elements against the fence: inside or outside tests, and cutting an
// element into the pieces inside and outside.
#pragma once

#include "host/mdltypes.h"

struct MSElementDescr;
struct ClipDescr;

extern "C" {

// A clip boundary made from the fence as it is now; 0 on success, ERROR when no fence is defined.
int mdlClip_getFence(ClipDescr** clip);
// Frees the clip boundary and sets *clip to null.
void mdlClip_free(ClipDescr** clip);
// True when element lies inside clip (in view), or crosses its edge and includeOverlaps is set;
// *overlap (may be null) is set when the element crosses the edge.
bool mdlClip_isElemInside(bool* overlap, const MSElementDescr* element, const ClipDescr* clip, int view,
                          int includeOverlaps);
// Cuts element into chains of pieces inside and outside clip (either output may be null: not wanted;
// an empty side gives null). Pieces keep the element's symbology; closed elements give closed pieces;
// a cell gives cells of its cut components. 0 on success.
int mdlClip_element(MSElementDescr** inside, MSElementDescr** outside, const MSElementDescr* element,
                    DgnModelRefP model, const ClipDescr* clip, int view);
}
