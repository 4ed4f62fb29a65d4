// The stamp command: burns vector elements of the design into the pixels of a raster attachment.
#pragma once

#include <cstdint>

#include "host/mdlelement.h"
#include "stamp/symbology.h"

// One stamp run in view (the raster pick's, or the accepting data point's in fence and block mode) on the
// current target: count pass, question, draw pass and write-back in one undo group.
void v_stampRun(int view);
// Gathers the run's elements: counts them (countPass 1, with the empty-set messages and the question) or
// draws them (0); gives the number counted (0 when declined or empty).
std::int32_t n_stampGather(int countPass);
// One gathered element: ignored for type 94, else measured or drawn, counted inside the boundary, and in
// the draw pass deleted with StampDelete (its pieces outside the boundary kept as new elements).
void v_stampCandidate(MSElementDescr* descriptor, DgnModelRefP modelRef, std::uint32_t filePos);
// Turns one element into pixels (draw pass) or a measured range (count pass), by its type.
void v_stampElement(MSElementDescr* descriptor, DgnModelRefP modelRef);
// v_stampElement on a validated single-element copy of each descriptor of the chain from first.
void v_stampChain(MSElementDescr* first, DgnModelRefP modelRef);
// Pen width, dashes and colours of element as it shows in the run's view (OperationView) of modelRef, for
// the current target (a monochrome target: white lines and fills on black; a palette target: its entries).
void v_stampSymbology(const MSElementDescr* element, DgnModelRefP modelRef, StampSymbology* out);
// Resets the stamp's module state (load, unload, tests).
void v_stampReset();
