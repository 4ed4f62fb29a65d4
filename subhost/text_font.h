// Fonts of the host's text: faces found through fontconfig and loaded with
// FreeType once per family, and each glyph's outline flattened once, in font
// units, so that drawing text is a copy and a transform per glyph.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace subhost::elements::fonts {

// A point in font units.
struct FontPoint {
    double x = 0, y = 0;
};

// One closed contour of a glyph (the last point repeats the first); a hole when it winds against the outer ones.
struct Contour {
    std::vector<FontPoint> points;
    bool hole = false;
};

// A glyph's outline flattened to about a hundredth of the cap height, and its advance (font units).
struct GlyphOutline {
    std::vector<Contour> contours;
    double advance = 0;
};

// A loaded face (kept by the font module until the process ends).
struct Face;

// Serialises use of the font module (faces and their glyph caches are shared).
std::unique_lock<std::mutex> lockFonts();
// The face of family (empty: the default font). A family fontconfig does not have gives the default font and
// sets *note; null with *note when no font can be loaded. Caller holds lockFonts().
Face* faceFor(const std::string& family, std::string* note);
// The family a face was loaded as.
const std::string& familyOf(const Face& face);
// Height of the face's capital letters in font units (OS/2 cap height, else 0.7 em).
double capHeightOf(const Face& face);
// The glyph index of a code point; 0 (the missing-glyph box) when the face has none.
unsigned glyphIndex(Face& face, char32_t codePoint);
// The kerning between two glyphs in font units (0 when the face has no kerning).
double kerningOf(Face& face, unsigned left, unsigned right);
// The flattened outline of a glyph, made on first use and kept; an empty one when it cannot be loaded.
const GlyphOutline& glyphOf(Face& face, unsigned index);

}  // namespace subhost::elements::fonts
