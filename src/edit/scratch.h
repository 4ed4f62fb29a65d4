// The scratch raster area: a blank raster attached over a drawn rectangle.
#pragma once

// Detaches and closes the scratch raster; quiet: no message when none is attached.
void v_scratchDetach(bool quiet);
