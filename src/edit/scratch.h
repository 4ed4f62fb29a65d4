// The scratch raster area: a blank raster attached over a drawn rectangle.
#pragma once

// Starts placing the scratch raster (the scratch attach command's operation).
void v_scratchAttach();
// Detaches and closes the scratch raster; quiet: no message when none is attached.
void v_scratchDetach(bool quiet);
