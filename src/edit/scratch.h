// The scratch raster area: a blank raster attached over a drawn rectangle.
#pragma once

#include "host/mdlraster.h"

// The attached scratch raster (its file name holds "_pxmend_scratch"), or null.
DgnRasterP pv_scratchFind();
// Builds the scratch file's name and makes sure the file exists; 0, or ERROR after telling the user.
int j_scratchFilePrepare();
// Starts placing the scratch raster (the scratch attach command's operation).
void v_scratchAttach();
// Detaches and closes the scratch raster; quiet: no message when none is attached.
void v_scratchDetach(bool quiet);
