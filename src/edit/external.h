// Edit in an external program: the raster file (or a copy of it) handed to the user's editor.
#pragma once

// Hands the current raster's file to the external editor (the current raster and target are set).
void v_editExternal();
