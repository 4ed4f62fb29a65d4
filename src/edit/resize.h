// Resize canvas: rows and columns added to or removed from each edge of a raster.
#pragma once

// Takes the amount typed into resize field (1 top, 2 bottom, 3 left, 4 right) into account.
void v_resizeFieldChanged(int field);
