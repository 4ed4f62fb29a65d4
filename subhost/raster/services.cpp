// Raster services of the host. Attachments arrive with the raster services of
// the design file; until then the active model has no rasters and every call
// on a raster answers ERROR.
#include <cstdlib>

#include "host/mdlraster.h"

DgnRasterCollection DgnRasterCollection::GetRasters(DgnModelRefP) {
    return DgnRasterCollection{};
}

extern "C" {

DgnRasterP mdlRaster_viewFindRaster(const DPoint3d*, int) { return nullptr; }
int mdlRaster_fileInfoGet(RasterFileInfo*, DgnRasterP) { return ERROR; }
int mdlRaster_geoReferenceInfoGet(RasterGeoReference*, DgnRasterP) { return ERROR; }
int mdlRaster_geoReferenceInfoSet(const RasterGeoReference*, DgnRasterP, int) { return ERROR; }
int mdlRaster_renderingInfoGet(RasterRenderingInfo*, DgnRasterP) { return ERROR; }
int mdlRaster_renderingInfoSet(const RasterRenderingInfo*, DgnRasterP, int) { return ERROR; }
int mdlRaster_extendedInfoGet(RasterExtendedInfo*, DgnRasterP) { return ERROR; }
int mdlRaster_extendedInfoSet(const RasterExtendedInfo*, DgnRasterP, int) { return ERROR; }
int mdlRaster_paletteGet(ColorPaletteEntry*, DgnRasterP) { return ERROR; }
int mdlRaster_bitmapGet(std::uint8_t*, int, PixelFormat*, const PixelBlock*, const BitmapSize*, DgnRasterP) {
    return ERROR;
}
int mdlRaster_bitmapSet(const std::uint8_t*, int, const PixelFormat*, const PixelBlock*, const BitmapSize*,
                        DgnRasterP, int) {
    return ERROR;
}
int mdlRaster_clipMaskCount(int* count, DgnRasterP) {
    *count = 0;
    return ERROR;
}
int mdlRaster_clipMaskGet(MSElementDescr**, int, int, DgnRasterP) { return ERROR; }
int mdlRaster_clipMaskRemove(int, DgnRasterP, int) { return ERROR; }
int mdlRaster_clipMaskAdd(MSElementDescr*, int, DgnRasterP, int) { return ERROR; }
int mdlRaster_clipBoundaryGet(MSElementDescr**, int, DgnRasterP) { return ERROR; }
int mdlRaster_clipBoundarySet(MSElementDescr*, int, DgnRasterP, int) { return ERROR; }
int mdlRaster_fileClose(DgnRasterP, int) { return ERROR; }
int mdlRaster_fileSourceOpen(DgnRasterP, int) { return ERROR; }
int mdlRaster_fileReload(DgnRasterP, int) { return ERROR; }

int mdlImage_memorySize(const BitmapSize* size, int imageFormat) {
    if (size->width <= 0 || size->height <= 0) return 0;
    const long long w = size->width, h = size->height;
    long long bytes = 0;
    switch (imageFormat) {
    case IMAGEFORMAT_BitMap: bytes = (w + 7) / 8 * h; break;
    case IMAGEFORMAT_ByteMap: bytes = w * h; break;
    case IMAGEFORMAT_RGB: bytes = w * h * 3; break;
    default: return 0;
    }
    return bytes > 0x7fffffffLL ? 0 : int(bytes);
}
int mdlImage_setMapPolygon(std::uint8_t*, std::uint8_t*, const BitmapSize*, int, const DPoint2d*, int, int, int) {
    return ERROR;
}
int mdlImage_setRGBPolygon(std::uint8_t*, std::uint8_t*, const BitmapSize*, const DPoint2d*, int, int,
                           const RGBColorDef*) {
    return ERROR;
}
int mdlImage_RGBToRGBSeparate(std::uint8_t*, const std::uint8_t*, const BitmapSize*, int) { return ERROR; }
int mdlImage_RGBSeparateToRGB(std::uint8_t*, const std::uint8_t*, const BitmapSize*, int) { return ERROR; }

void mdlElmdscr_freeAll(MSElementDescr** descriptor) { *descriptor = nullptr; }
void dlmSystem_mdlFree(void* buffer) { std::free(buffer); }

}
