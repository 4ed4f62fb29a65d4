// How one element is stamped: pen, dash pattern and colours, filled per element and handed to the
// drawing surface (stamp/bitmap.h).
#pragma once

#include <cstdint>

struct StampSymbology {
    std::uint32_t penWidth;     // pen width in pixels
    std::uint32_t dashes[32];   // dash and gap lengths in pixels, alternately, starting with a dash
    std::uint32_t dashCount;    // valid entries of dashes; 0 or 1: a solid pen
    std::uint8_t lineColor[3];  // red, green, blue of the element
    std::uint8_t fillColor[3];  // red, green, blue of the element's fill
    std::uint8_t backColor[3];  // red, green, blue of the raster's background
    std::int32_t fillFlag;      // non-zero: a polygon's brush takes fillColor, otherwise backColor
};
