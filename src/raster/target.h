// What the add-on keeps about each raster attachment it has touched, and the
// lookup and validation of attachments.
#pragma once

#include <cstdint>

#include "host/mdlraster.h"

struct RasterTarget {
    std::uint32_t statsValid;  // polarity / background statistics done for the current file
    std::uint8_t palette[256][3];
    std::int32_t paletteCount;
    DgnRasterP raster;  // the attachment; key of the table
    char filePath[256];
    DPoint3d origin;
    DPoint3d corners[4];
    double rotation;  // degrees
    double affinity;  // degrees
    double halfPixel;
    double pixelSizeX, pixelSizeY;  // design units per pixel
    double widthPx, heightPx;
    double extentX, extentY;  // design units
    PixelBlock wholeBlock;
    std::uint8_t bgColor[3];
    std::uint8_t bgIndex;
    std::uint32_t bgDominant;
    std::uint8_t readOnly;
    std::uint8_t hasPalette;
    std::uint32_t imageFormat;  // IMAGEFORMAT_ of every buffer of this raster
    std::uint32_t compression;
    std::uint32_t colorMode;
    std::uint32_t transferColorMode;
    std::uint32_t fileFormat;
    std::uint32_t backgroundBlack;
    std::uint32_t writeInverts;
    std::uint32_t bitsPerPixel;
    std::uint32_t colorCount;
};

// Number of rasters of the active model; the last one into *last when last is not null (untouched
// when there is none).
int n_rasterCount(DgnRasterP* last = nullptr);
// First raster found under one of count points in view, or null.
DgnRasterP pv_rasterFindAtPoints(const DPoint3d* points, int count, int view);
// The active model's raster whose file is path (ignoring case), or null.
DgnRasterP pv_rasterFindByName(const char* path);
// File information of raster; host status, ERROR for a null raster.
int j_rasterFileInfo(RasterFileInfo* info, DgnRasterP raster);
// 0 when the add-on can edit raster, ERROR when refused (the user has been told). compareDepth compares
// with the current target's colour mode (the source of a copy).
int j_rasterCheckSupport(DgnRasterP raster, bool allowReadOnly, bool compareDepth);
// Validates raster and fills its record (statistics once per file, its file information read once);
// null when refused or failed (the user has been told).
RasterTarget* pv_rasterTargetLoad(DgnRasterP raster, bool allowReadOnly, bool compareDepth);
// The record of raster, or null.
RasterTarget* pv_rasterTargetFind(DgnRasterP raster);
// Drops every RasterTarget record (design file closed, add-on unloaded).
void v_rasterTargetFreeAll();
// Name of the current target's file format ("TIFF", "CIT", ... "UNKNOWN").
const char* pc_rasterFormatName();
// Name of file format value ("UNKNOWN" for values without one).
const char* pc_formatName(int fileFormat);
