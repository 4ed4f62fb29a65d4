// Cairo surfaces and drawing contexts owned by std::unique_ptr, freed with their own destroy calls.
#pragma once

#include <cairo.h>

#include <memory>

namespace subhost {

struct SurfaceFree {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextFree {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceFree>;
using Context = std::unique_ptr<cairo_t, ContextFree>;

}  // namespace subhost
