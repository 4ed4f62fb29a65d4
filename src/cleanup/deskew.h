// Deskew: straightens a scanned raster that lies at a small angle, with the deskew imaging library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/mdldialog.h"

// Starts the deskew tool on the current target in the current DeskewMode; restart 1 keeps an angle
// already detected for this raster.
void v_deskewStart(int restart);
// Loads the deskew library into the shared slot and calls its init; 0 loaded, -1 when it cannot be
// loaded (or lacks an entry deskew calls).
int j_deskewInit();
// The skew angle in degrees (within maxAngle) of the surface in exchange mode; 0 when no correction
// is needed, -1.0 when the deskew library is not loaded.
double d_deskewDetect(double maxAngle);
// Turns the surface in exchange mode by angle degrees in place; nothing without the deskew library.
void v_deskewCorrect(double angle);
// Paints each pixel of buffer (size bytes) whose mask is 0 in colour (red, green, blue at 24 and 32 bits;
// colour[0], a palette index, at 8 bits); nothing at other depths or for null pointers.
void v_deskewFillCanvas(std::uint8_t* buffer, const std::uint8_t* mask, std::size_t size, const std::uint8_t* colour,
                        int bitsPerPixel);
// Gives the library slot back (its done entry, then the module); nothing when it is empty.
void v_deskewRelease();
// Dialog hook of the deskew mode in the tool settings: a change of mode restarts the tool; the angle
// field takes typed input only in "Enter Manually".
void v_deskewSettingsHook(DialogItemMessage* message);
// Forgets the tool's state (add-on load and unload, tests).
void v_deskewStateReset();
