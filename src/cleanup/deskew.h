// Deskew: straightens a scanned raster that lies at a small angle, with the deskew imaging library.
#pragma once

// Starts the deskew tool on the current target in the current DeskewMode; restart 1 keeps an angle
// already detected for this raster.
void v_deskewStart(int restart);
