// Element descriptors as the host keeps them: a chain of elements, here the
// closed shapes that clip masks and boundaries are made of.
#pragma once

#include <vector>

#include "host/mdltypes.h"

struct MSElementDescr {
    int type = 6;                   // 6: shape (closed polygon)
    std::vector<DPoint3d> points;   // vertices in design coordinates
};
