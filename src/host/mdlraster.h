// Raster services and image library of the host: raster attachments of the
// active model, their files, georeference, rendering, clip masks and pixels,
// and the image-buffer helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/mdldialog.h"
#include "host/mdltypes.h"

struct DgnRaster;
using DgnRasterP = DgnRaster*;

// Host element descriptor (a chain of elements); freed with mdlElmdscr_freeAll.
struct MSElementDescr;

// Raster file formats (ImageFileFormat) the add-on refers to.
constexpr int IMAGEFILE_RGB = 1;
constexpr int IMAGEFILE_TIFF = 3;
constexpr int IMAGEFILE_GIF = 7;
constexpr int IMAGEFILE_BMP = 9;
constexpr int IMAGEFILE_RLE = 13;
constexpr int IMAGEFILE_JPEG = 18;
constexpr int IMAGEFILE_CIT = 19;
constexpr int IMAGEFILE_PNG = 28;
constexpr int IMAGEFILE_HMR = 30;

// Colour modes (ImageColorMode).
constexpr int IMAGECOLOR_RGB = 1;
constexpr int IMAGECOLOR_16Colors = 2;
constexpr int IMAGECOLOR_256Colors = 3;
constexpr int IMAGECOLOR_GreyScale = 4;
constexpr int IMAGECOLOR_Monochrome = 5;
constexpr int IMAGECOLOR_RGBA = 6;
constexpr int IMAGECOLOR_16ColorsAlt = 8;
constexpr int IMAGECOLOR_MonochromeAlt = 9;

// Image-buffer formats of the image library.
constexpr int IMAGEFORMAT_BitMap = 1;   // 1 bit per pixel, rows padded to bytes
constexpr int IMAGEFORMAT_ByteMap = 3;  // 1 byte per pixel
constexpr int IMAGEFORMAT_RGB = 6;      // 3 bytes per pixel, interleaved

// Compression types: the host's code table.
constexpr int IMAGECOMPRESS_None = 1;
constexpr int IMAGECOMPRESS_LZW = 5;

// Option of raster calls: do the work now and record it for undo.
constexpr int RASTER_OPTION_UNDOABLE = 14;
constexpr int RASTER_OPTION_NOW = 1;

// Open modes of mdlRaster_fileOpen.
constexpr int RASTER_OPEN_READONLY = 1;
constexpr int RASTER_OPEN_READWRITE = 3;

// A rectangle in pixel coordinates: x, y of the lower-left corner (y up from the raster's origin corner).
struct PixelBlock {
    double x;
    double y;
    double width;
    double height;
    std::uint32_t valid;
};

// Width and height of a pixel buffer.
struct BitmapSize {
    std::int32_t width;
    std::int32_t height;
};

// Colour mode and palette passed with every pixel read and write.
struct PixelFormat {
    std::uint32_t colorMode;
    std::int32_t paletteCount;
    std::uint8_t palette[256][3];
};

struct RasterFileInfo {
    WChar fullPath[MAXFILELENGTH];
    int fileFormat;
    int formatSubCode;  // handed back unchanged to mdlRaster_fileExport
    int compression;
    int colorMode;
    int widthPx;
    int heightPx;
    bool readOnly;
};

struct RasterGeoReference {
    DPoint3d origin;  // design coordinates of the origin (lower-left) corner
    double extentX;   // size in design units along the raster's rows
    double extentY;   // size in design units across them
    double rotation;  // degrees
    double affinity;  // shear angle, degrees
};

// Display settings of an attachment; the layout is the host's record.
struct RasterRenderingInfo {
    std::uint16_t transparencyFlags;     // bytes 0-1
    std::uint8_t reserved2[3];           // bytes 2-4
    std::uint8_t foreground[3];          // bytes 5-7: r, g, b of set monochrome pixels
    std::uint8_t background[3];          // bytes 8-10: r, g, b of clear monochrome pixels
    std::uint8_t backgroundTransparent;  // byte 11
    std::uint8_t foregroundTransparent;  // byte 12 (monochrome)
    std::uint8_t reserved13[19];         // bytes 13-31
    double contrastFactor;               // byte 32: 1.0 shows the pixels as they are
};
static_assert(offsetof(RasterRenderingInfo, foreground) == 5);
static_assert(offsetof(RasterRenderingInfo, background) == 8);
static_assert(offsetof(RasterRenderingInfo, backgroundTransparent) == 11);
static_assert(offsetof(RasterRenderingInfo, foregroundTransparent) == 12);
static_assert(offsetof(RasterRenderingInfo, contrastFactor) == 32);

// Opaque data of an attachment, copied to new attachments; byte 0 is a palette index.
struct RasterExtendedInfo {
    std::uint8_t data[64];
};

// Arguments of mdlRaster_fileExport.
struct RasterFileFormat {
    int format;
    int subCode;
    static RasterFileFormat Create(int format, int subCode) { return RasterFileFormat{format, subCode}; }
};
struct RasterColorMode {
    int mode;
    static RasterColorMode Create(int mode) { return RasterColorMode{mode}; }
};
struct RasterCompressionType {
    int compression;
    int ratio;
    static RasterCompressionType Create(int compression, int ratio) {
        return RasterCompressionType{compression, ratio};
    }
};

// The raster attachments of a model, in attachment order.
class DgnRasterCollection {
public:
    class const_iterator {
    public:
        const_iterator(const std::vector<DgnRasterP>* list, std::size_t index) : list_(list), index_(index) {}
        bool IsDifferent(const const_iterator& other) const { return index_ != other.index_; }
        DgnRasterP GetCurrent() const { return index_ < list_->size() ? (*list_)[index_] : nullptr; }
        void MoveToNext() { ++index_; }

    private:
        const std::vector<DgnRasterP>* list_;
        std::size_t index_;
    };

    // Snapshot of the model's attachments.
    static DgnRasterCollection GetRasters(DgnModelRefP model);
    const_iterator begin() const { return const_iterator(&rasters_, 0); }
    const_iterator end() const { return const_iterator(&rasters_, rasters_.size()); }

private:
    std::vector<DgnRasterP> rasters_;
};

extern "C" {

// Attachment under a design point in a view (the topmost when several overlap); null when none.
DgnRasterP mdlRaster_viewFindRaster(const DPoint3d* point, int view);

// Information about an attachment; 0 on success.
int mdlRaster_fileInfoGet(RasterFileInfo* info, DgnRasterP raster);
int mdlRaster_geoReferenceInfoGet(RasterGeoReference* geo, DgnRasterP raster);
int mdlRaster_geoReferenceInfoSet(const RasterGeoReference* geo, DgnRasterP raster, int option);
int mdlRaster_renderingInfoGet(RasterRenderingInfo* rendering, DgnRasterP raster);
int mdlRaster_renderingInfoSet(const RasterRenderingInfo* rendering, DgnRasterP raster, int option);
int mdlRaster_extendedInfoGet(RasterExtendedInfo* info, DgnRasterP raster);
int mdlRaster_extendedInfoSet(const RasterExtendedInfo* info, DgnRasterP raster, int option);
// 256 palette entries; 0 on success.
int mdlRaster_paletteGet(ColorPaletteEntry* palette, DgnRasterP raster);

// Pixels of block (rows top to bottom) into/from buffer of length bytes; 0 on success.
int mdlRaster_bitmapGet(std::uint8_t* buffer, int length, PixelFormat* format, const PixelBlock* block,
                        const BitmapSize* size, DgnRasterP raster);
int mdlRaster_bitmapSet(const std::uint8_t* buffer, int length, const PixelFormat* format, const PixelBlock* block,
                        const BitmapSize* size, DgnRasterP raster, int option);

// Clip masks and clip boundary of an attachment.
int mdlRaster_clipMaskCount(int* count, DgnRasterP raster);
int mdlRaster_clipMaskGet(MSElementDescr** mask, int index, int view, DgnRasterP raster);
int mdlRaster_clipMaskRemove(int index, DgnRasterP raster, int option);
int mdlRaster_clipMaskAdd(MSElementDescr* mask, int view, DgnRasterP raster, int option);
int mdlRaster_clipBoundaryGet(MSElementDescr** boundary, int view, DgnRasterP raster);
int mdlRaster_clipBoundarySet(MSElementDescr* boundary, int view, DgnRasterP raster, int option);

// Files behind attachments.
int mdlRaster_fileClose(DgnRasterP raster, int option);
int mdlRaster_fileSourceOpen(DgnRasterP raster, int option);
int mdlRaster_fileReload(DgnRasterP raster, int option);
// Opens path as a new raster handle of model (mode RASTER_OPEN_READONLY or _READWRITE), not yet attached;
// *raster receives the handle (replaced when it held one); 0 on success.
int mdlRaster_fileOpen(DgnRasterP* raster, WCharCP path, DgnModelRefP model, int mode, int option);
// Adds the opened raster to / removes it from the model's raster collection; 0 on success.
int mdlRaster_attach(DgnRasterP raster, int option);
int mdlRaster_detach(DgnRasterP raster, int option);
// Writes a converted copy of source's file to path in format, colour mode and compression; 0 on success.
int mdlRaster_fileExport(WCharCP path, const RasterFileFormat* format, const RasterColorMode* colorMode,
                         const RasterCompressionType* compression, double scale, DgnRasterP source);

// Image library.
// Buffer length in bytes of size in imageFormat (IMAGEFORMAT_).
int mdlImage_memorySize(const BitmapSize* size, int imageFormat);
// Sets the pixels inside (outside 0) or outside (1) the polygon (even-odd, pixel centres) to value; 0 on success.
// scratch is a work buffer the caller may pass (null: the library allocates its own).
int mdlImage_setMapPolygon(std::uint8_t* image, std::uint8_t* scratch, const BitmapSize* size, int imageFormat,
                           const DPoint2d* points, int count, int outside, int value);
// The same for a planar RGB image (three planes of width x height bytes).
int mdlImage_setRGBPolygon(std::uint8_t* planes, std::uint8_t* scratch, const BitmapSize* size, const DPoint2d* points,
                           int count, int outside, const RGBColorDef* colour);
// Interleaved RGB -> three planes and back (colorMode IMAGECOLOR_RGB); 0 on success.
int mdlImage_RGBToRGBSeparate(std::uint8_t* planes, const std::uint8_t* rgb, const BitmapSize* size, int colorMode);
int mdlImage_RGBSeparateToRGB(std::uint8_t* rgb, const std::uint8_t* planes, const BitmapSize* size, int colorMode);

// New raster files from buffers: 0, MDLERR_CANNOTWRITEFORMAT (-119) for a format the host cannot write,
// or another status. Monochrome buffers: a set bit is white in TIFF files and black in all other formats.
int mdlImage_createFileFromBitMap(WCharCP name, int fileFormat, const BitmapSize* size, const std::uint8_t* bytes, int,
                                  int, int);
// 8-bit buffer with a palette split into red, green, blue arrays of paletteCount entries (null: a grey ramp).
int mdlImage_extCreateFileFromMap(WCharCP name, int fileFormat, int colorMode, const BitmapSize* size,
                                  const std::uint8_t* bytes, const std::uint8_t* red, const std::uint8_t* green,
                                  const std::uint8_t* blue, int paletteCount, int compression, int, int);
// Planar RGB buffer (three planes of width x height bytes).
int mdlImage_extCreateFileFromRGB(WCharCP name, int fileFormat, int colorMode, const BitmapSize* size,
                                  const std::uint8_t* planes, int compression, int, int);

// A host-owned copy of image turned by angle degrees about its centre, enlarged to hold it (new pixels 0);
// *out is freed with dlmSystem_mdlFree; 0 on success.
int mdlImage_rotate(std::uint8_t** out, BitmapSize* outSize, const std::uint8_t* image, const BitmapSize* size,
                    int imageFormat, double angle);
// Mirrors image in place: horizontal swaps left and right, otherwise top and bottom; 0 on success.
int mdlImage_mirror(std::uint8_t* image, const BitmapSize* size, int imageFormat, bool horizontal);

// Element descriptors.
void mdlElmdscr_freeAll(MSElementDescr** descriptor);

// Frees a buffer the host handed out.
void dlmSystem_mdlFree(void* buffer);
}
