// Vector and rotation-matrix helpers of the host.
#pragma once

#include "host/mdltypes.h"

// pi / 180: degrees to radians.
constexpr double fc_piover180 = 0.017453292519943295;

extern "C" {

// Rotation about the z axis by radians.
void mdlRMatrix_fromAngle(RotMatrix* matrix, double radians);
// point = matrix * point.
void mdlRMatrix_rotatePoint(DPoint3d* point, const RotMatrix* matrix);
// point = transpose(matrix) * point (the inverse rotation for an orthogonal matrix).
void mdlRMatrix_unrotatePoint(DPoint3d* point, const RotMatrix* matrix);
// Rotates count points in place.
void mdlRMatrix_rotatePointArray(DPoint3d* points, const RotMatrix* matrix, int count);
// point += delta.
void mdlVec_addPoint(DPoint3d* out, const DPoint3d* point, const DPoint3d* delta);
// Adds delta to count points in place.
void mdlVec_addPointArray(DPoint3d* points, const DPoint3d* delta, int count);
}
