// The host's vector and rotation-matrix helpers.
#include "host/mdlgeom.h"

#include <cmath>

extern "C" {

void mdlRMatrix_fromAngle(RotMatrix* matrix, double radians) {
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    *matrix = RotMatrix{{{c, -s, 0.0}, {s, c, 0.0}, {0.0, 0.0, 1.0}}};
}

void mdlRMatrix_rotatePoint(DPoint3d* point, const RotMatrix* m) {
    const DPoint3d p = *point;
    point->x = m->form3d[0][0] * p.x + m->form3d[0][1] * p.y + m->form3d[0][2] * p.z;
    point->y = m->form3d[1][0] * p.x + m->form3d[1][1] * p.y + m->form3d[1][2] * p.z;
    point->z = m->form3d[2][0] * p.x + m->form3d[2][1] * p.y + m->form3d[2][2] * p.z;
}

void mdlRMatrix_unrotatePoint(DPoint3d* point, const RotMatrix* m) {
    const DPoint3d p = *point;
    point->x = m->form3d[0][0] * p.x + m->form3d[1][0] * p.y + m->form3d[2][0] * p.z;
    point->y = m->form3d[0][1] * p.x + m->form3d[1][1] * p.y + m->form3d[2][1] * p.z;
    point->z = m->form3d[0][2] * p.x + m->form3d[1][2] * p.y + m->form3d[2][2] * p.z;
}

void mdlRMatrix_rotatePointArray(DPoint3d* points, const RotMatrix* matrix, int count) {
    for (int i = 0; i < count; ++i) mdlRMatrix_rotatePoint(&points[i], matrix);
}

void mdlVec_addPoint(DPoint3d* out, const DPoint3d* point, const DPoint3d* delta) {
    *out = DPoint3d{point->x + delta->x, point->y + delta->y, point->z + delta->z};
}

void mdlVec_addPointArray(DPoint3d* points, const DPoint3d* delta, int count) {
    for (int i = 0; i < count; ++i) mdlVec_addPoint(&points[i], &points[i], delta);
}
}
