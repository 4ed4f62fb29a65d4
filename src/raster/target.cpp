// Raster attachment records: lookup, validation and loading.
#include "raster/target.h"

RasterTargetState g_rasterTargets;

void v_rasterTargetFreeAll() {
    g_rasterTargets.rasterTargets.clear();
    g_rasterTargets.currentTarget = nullptr;
}
