// The design's views: which are open, their rotation, and view updates.
#include <cmath>

#include "host/mdlelement.h"
#include "host/mdlgeom.h"
#include "subhost/state.h"

namespace {

const nlohmann::json* viewOf(int view) {
    const nlohmann::json& views = subhost::host().design.views;
    if (!subhost::host().design.open || view < 0 || std::size_t(view) >= views.size()) return nullptr;
    return &views[std::size_t(view)];
}

}  // namespace

extern "C" {

void mdlRMatrix_fromView(RotMatrix* matrix, int view) {
    const nlohmann::json* v = viewOf(view);
    const double degrees = v ? v->value("rotation", 0.0) : 0.0;
    // The view matrix takes design axes to view axes: the inverse of the view's turn.
    mdlRMatrix_fromAngle(matrix, -degrees * fc_piover180);
}

void mdlRMatrix_unrotatePointArray(DPoint3d* points, const RotMatrix* matrix, int count) {
    for (int i = 0; i < count; ++i) mdlRMatrix_unrotatePoint(&points[i], matrix);
}

bool mdlView_isVisible(int view) { return viewOf(view) != nullptr; }

int mdlView_updateSingle(int view) {
    if (!viewOf(view)) return ERROR;
    subhost::recordEvent({{"event", "viewUpdate"}, {"view", view}});
    return SUCCESS;
}

int mdlView_getParameters(DPoint3d* origin, DPoint3d* center, DPoint3d* delta, RotMatrix* rotation, double* activeZ,
                          int view) {
    const nlohmann::json* v = viewOf(view);
    auto point = [&](const char* key) {
        double xyz[3] = {};
        const nlohmann::json* values = v && v->contains(key) && (*v)[key].is_array() ? &(*v)[key] : nullptr;
        for (std::size_t i = 0; values && i < 3 && i < values->size(); ++i)
            if ((*values)[i].is_number()) xyz[i] = (*values)[i].get<double>();
        return DPoint3d{xyz[0], xyz[1], xyz[2]};
    };
    const DPoint3d o = point("origin"), d = point("extent");
    if (origin) *origin = o;
    if (delta) *delta = d;
    if (center) *center = {o.x + d.x / 2, o.y + d.y / 2, o.z + d.z / 2};
    if (rotation) mdlRMatrix_fromView(rotation, view);
    if (activeZ) *activeZ = 0.0;
    return v ? SUCCESS : ERROR;
}

int mdlView_getCurrent() { return subhost::host().design.views.empty() ? -1 : 0; }

}  // extern "C"
