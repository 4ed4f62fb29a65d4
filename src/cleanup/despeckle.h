// Despeckle: removes small groups of set pixels from a monochrome raster, with the despeckle imaging library.
#pragma once

// Whole-raster despeckle of the current target, in view (the raster pick's).
void v_despeckleRun(int view);
// Gives the library slot back (its done entry, then the module); nothing when it is empty.
void v_despeckleRelease();
