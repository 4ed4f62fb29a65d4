// Edit in an external program: the raster file (or a copy of it) handed to the user's editor.
#pragma once

// Hands the current raster's file to the external editor (the current raster and target are set).
void v_editExternal();

extern "C" {
// Opens path with the program the desktop associates with it (action 0; no such program: the Open With
// dialog) or always with the Open With dialog (other actions); 0 when a program was started or the
// dialog shown, -1 when the shell refused, with its text ("Access denied", "Unknown error", ...) in
// errorText (at least 20 bytes).
int j_shellExecute(int action, const char* path, char* errorText);
}
