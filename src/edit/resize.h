// Resize canvas: rows and columns added to or removed from each edge of a raster.
#pragma once

// Starts the resize tool on the picked raster (its target current) in view.
void v_resizeStart(int view);
// Applies the four amounts to the current raster (the apply command).
void v_resizeApply();
// Ends the resize tool (the cancel command).
void v_resizeCancel();
// Takes the amount typed into resize field (1 top, 2 bottom, 3 left, 4 right) into account.
void v_resizeFieldChanged(int field);
