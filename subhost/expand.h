// The host's expansions of complex element kinds to simple elements (lines,
// line strings, shapes, arcs, ellipses), shared by display, stroking, clipping
// and the expansion calls the application makes.
#pragma once

#include <string>
#include <vector>

#include "subhost/elements.h"

namespace subhost::elements {

// The default font family of text.
constexpr const char* kDefaultFont = "DejaVu Sans";

// Text or a text node as its glyph outlines: closed shapes for the outlines' contours (holes as hole
// shapes), in the element's colour, weight and level; appended to *out. An unknown font falls back to
// the default one with a note in *note (may be null); false with *note when no font can be loaded.
bool textGeometry(const Element& text, std::vector<Element>* out, std::string* note);

// A dimension as extension lines, the dimension line, filled arrowheads and its text (a text element), in
// the dimension's symbology; appended to *out. False for a dimension that cannot be drawn.
bool dimensionGeometry(const Element& dimension, std::vector<Element>* out);

// A shared cell instance as a normal cell: the definition's components scaled, turned and moved to the
// instance's origin. False with *why when definitions has no such definition.
bool sharedCellToCell(const Element& instance, const Definitions& definitions, Element* cell, std::string* why);

// A multi-line as one line string per offset line (its own symbology) and the end caps; appended to *out.
bool multiLineGeometry(const Element& multiLine, std::vector<Element>* out);

// The hatch lines of area's pattern (a closed element, or a grouped-hole cell with its holes left open),
// clipped to the area, in the pattern's colour and weight; appended to *out. False when it has none.
bool patternGeometry(const Element& area, std::vector<Element>* out);

// A linear element drawn in a custom line code that definitions holds, as its dash pieces (line strings, or
// filled shapes for a style with a width); appended to *out. False for other codes and other kinds.
bool lineStyleGeometry(const Element& element, const Definitions& definitions, std::vector<Element>* out);

}  // namespace subhost::elements
