// Raster geometry: design <-> pixel coordinates for rotated and sheared rasters.
#include "raster/geometry.h"

#include <cmath>

#include "host/mdlgeom.h"
#include "raster/context.h"

namespace {

const RasterTarget* targetOrCurrent(const RasterTarget* target) { return target ? target : currentTarget(); }

RotMatrix rotationOf(const RasterTarget& target) {
    RotMatrix r;
    mdlRMatrix_fromAngle(&r, target.rotation * fc_piover180);
    return r;
}

}  // namespace

void v_designToPixel(const RasterTarget* target, DPoint3d* pixel, const DPoint3d* design) {
    if (targetOrCurrent(target) == nullptr) {
        *pixel = DPoint3d{0.0, 0.0, 0.0};
        return;
    }
    const RasterTarget& t = *targetOrCurrent(target);
    const RotMatrix r = rotationOf(t);
    DPoint3d d{design->x - t.origin.x, design->y - t.origin.y, 0.0};
    mdlRMatrix_unrotatePoint(&d, &r);
    const double u = d.x / t.pixelSizeX;
    const double v = d.y / t.pixelSizeY;
    const double a = t.affinity * fc_piover180;
    pixel->x = std::tan(a) * v + u;
    pixel->y = v / std::cos(a);
    pixel->z = 0.0;
}

void v_pixelBlockFromPoints(const RasterTarget* target, PixelBlock* block, DPoint3d* corner, const DPoint3d* points,
                            int count, int reset) {
    if (targetOrCurrent(target) == nullptr) {
        if (block) *block = PixelBlock{};
        return;
    }
    const RasterTarget& t = *targetOrCurrent(target);
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    if (!reset && block) {
        minX = block->x;
        minY = block->y;
        maxX = block->x + block->width;
        maxY = block->y + block->height;
    }
    for (int i = 0; i < count; ++i) {
        DPoint3d p;
        v_designToPixel(&t, &p, &points[i]);
        if ((reset && i == 0) || p.x < minX) minX = p.x;
        if ((reset && i == 0) || p.y < minY) minY = p.y;
        if ((reset && i == 0) || p.x > maxX) maxX = p.x;
        if ((reset && i == 0) || p.y > maxY) maxY = p.y;
    }
    if (corner) {
        const RotMatrix r = rotationOf(t);
        DPoint3d offset{minX * t.pixelSizeX, minY * t.pixelSizeY, 0.0};
        mdlRMatrix_rotatePoint(&offset, &r);
        mdlVec_addPoint(corner, &t.origin, &offset);
    }
    if (block) {
        block->x = std::floor(minX);
        block->y = std::floor(minY);
        block->width = std::ceil(maxX - minX);
        block->height = std::ceil(maxY - minY);
        block->valid = 1;
    }
}

void v_designToBlockPixels(const PixelBlock* block, DPoint2d* points2d, const DPoint3d* points, int count) {
    for (int i = 0; i < count; ++i) {
        DPoint3d p;
        v_designToPixel(nullptr, &p, &points[i]);
        points2d[i].x = p.x - block->x;
        points2d[i].y = block->y + block->height - p.y;
    }
}

void v_rasterCorners() {
    if (currentTarget() == nullptr) return;
    RasterTarget& t = *currentTarget();
    DPoint3d c[4] = {{0, 0, 0}, {t.extentX, 0, 0}, {t.extentX, t.extentY, 0}, {0, t.extentY, 0}};
    const double a = t.affinity * fc_piover180;
    for (DPoint3d& p : c) {
        p.x -= std::sin(a) * p.y;
        p.y = std::cos(a) * p.y;
    }
    const RotMatrix r = rotationOf(t);
    mdlRMatrix_rotatePointArray(c, &r, 4);
    mdlVec_addPointArray(c, &t.origin, 4);
    for (int i = 0; i < 4; ++i) t.corners[i] = c[i];
}
