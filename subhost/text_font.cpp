// Fonts of the host's text: fontconfig finds a family's file, FreeType loads
// it once, and each glyph's outline is flattened once in font units.
#include "subhost/text_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <unordered_map>

#include "subhost/expand.h"

namespace subhost::elements::fonts {

struct LibraryClose {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FaceClose {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
struct ConfigClose {
    void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};
struct PatternClose {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternClose>;

struct Face {
    std::unique_ptr<FT_FaceRec_, FaceClose> face;
    std::string family;
    double capHeight = 0;
    double tolerance = 1;  // flattening tolerance in font units
    bool kerning = false;
    std::unordered_map<unsigned, GlyphOutline> glyphs;
};

namespace {

// Most distinct family names whose match is kept; names beyond it are matched again each time.
constexpr std::size_t kMaxFamilyNames = 1024;

// Module state: the FreeType library, fontconfig's configuration, faces by file and the face each asked
// family resolved to (with whether it was found).
struct FontState {
    std::mutex mutex;
    std::unique_ptr<FT_LibraryRec_, LibraryClose> library;
    std::unique_ptr<FcConfig, ConfigClose> config;
    bool started = false;
    std::map<std::string, std::unique_ptr<Face>> facesByFile;
    struct Resolved {
        Face* face = nullptr;
        bool found = false;
    };
    std::map<std::string, Resolved> families;
};

FontState& fontState() {
    static FontState state;
    return state;
}

bool start(FontState& st) {
    if (st.started) return st.library && st.config;
    st.started = true;
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) == 0) st.library.reset(library);
    st.config.reset(FcInitLoadConfigAndFonts());
    return st.library && st.config;
}

// The file, face index and family names of fontconfig's best scalable match for family.
struct Match {
    std::string file;
    int index = 0;
    std::vector<std::string> families;
};

bool matchFamily(FontState& st, const std::string& family, Match* out) {
    PatternPtr pattern(FcPatternCreate());
    if (!pattern) return false;
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    FcConfigSubstitute(st.config.get(), pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    PatternPtr match(FcFontMatch(st.config.get(), pattern.get(), &result));
    if (!match) return false;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || !file) return false;
    out->file = reinterpret_cast<const char*>(file);
    if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &out->index) != FcResultMatch) out->index = 0;
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(match.get(), FC_FAMILY, i, &name) == FcResultMatch; ++i)
        out->families.push_back(reinterpret_cast<const char*>(name));
    return true;
}

// The height of the face's capital letters (font units): the OS/2 table's cap height when it has one (version 2
// on), else the top of "H" (older tables, such as DejaVu's, leave it out), else 0.7 em.
double capHeight(FT_Face face) {
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version >= 2 && os2->version != 0xFFFF && os2->sCapHeight > 0) return double(os2->sCapHeight);
    const FT_UInt h = FT_Get_Char_Index(face, 'H');
    if (h && FT_Load_Glyph(face, h, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0 &&
        face->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
        FT_BBox box;
        FT_Outline_Get_CBox(&face->glyph->outline, &box);
        if (box.yMax > 0) return double(box.yMax);
    }
    return 0.7 * double(face->units_per_EM);
}

// Loads (once) the face of a match; null when FreeType cannot read it as a scalable face.
Face* loadFace(FontState& st, const Match& m) {
    const std::string key = m.file + "#" + std::to_string(m.index);
    const auto it = st.facesByFile.find(key);
    if (it != st.facesByFile.end()) return it->second.get();
    FT_Face raw = nullptr;
    if (FT_New_Face(st.library.get(), m.file.c_str(), m.index, &raw) != 0) return nullptr;
    auto face = std::make_unique<Face>();
    face->face.reset(raw);
    if (!FT_IS_SCALABLE(raw) || raw->units_per_EM == 0) return nullptr;
    face->family = m.families.empty() ? std::string(raw->family_name ? raw->family_name : "") : m.families[0];
    face->capHeight = capHeight(raw);
    face->tolerance = face->capHeight / 100.0;
    face->kerning = FT_HAS_KERNING(raw);
    Face* kept = face.get();
    st.facesByFile[key] = std::move(face);
    return kept;
}

bool sameName(const std::string& a, const std::string& b) {
    return FcStrCmpIgnoreCase(reinterpret_cast<const FcChar8*>(a.c_str()),
                              reinterpret_cast<const FcChar8*>(b.c_str())) == 0;
}

// The face family resolves to and whether fontconfig has that family (not just a substitute).
FontState::Resolved resolve(FontState& st, const std::string& family) {
    const auto it = st.families.find(family);
    if (it != st.families.end()) return it->second;
    FontState::Resolved r;
    Match m;
    // A name with a NUL in it would be matched by its beginning only: no font has such a name.
    if (family.find('\0') == std::string::npos && matchFamily(st, family, &m)) {
        r.face = loadFace(st, m);
        r.found = r.face && std::any_of(m.families.begin(), m.families.end(),
                                        [&](const std::string& f) { return sameName(f, family); });
    }
    if (st.families.size() < kMaxFamilyNames) st.families[family] = r;
    return r;
}

// Flattens FreeType's outline into contours, collecting points in font units.
struct Flattener {
    double tolerance;
    std::vector<Contour>* contours;
    FontPoint last;

    void add(double x, double y) {
        last = {x, y};
        contours->back().points.push_back(last);
    }
    // Segments a curve needs so that its chords stay within tolerance of it (second-difference bound).
    int segments(double secondDifference, double factor) const {
        const double n = std::ceil(std::sqrt(factor * secondDifference / tolerance));
        return std::clamp(int(std::isfinite(n) ? n : 1), 1, 64);
    }
    static int moveTo(const FT_Vector* to, void* user) {
        auto* f = static_cast<Flattener*>(user);
        f->contours->emplace_back();
        f->add(double(to->x), double(to->y));
        return 0;
    }
    static int lineTo(const FT_Vector* to, void* user) {
        static_cast<Flattener*>(user)->add(double(to->x), double(to->y));
        return 0;
    }
    static int conicTo(const FT_Vector* c, const FT_Vector* to, void* user) {
        auto* f = static_cast<Flattener*>(user);
        const FontPoint p0 = f->last, p1{double(c->x), double(c->y)}, p2{double(to->x), double(to->y)};
        const int n = f->segments(std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y), 0.25);
        for (int i = 1; i <= n; ++i) {
            const double t = double(i) / n, u = 1 - t;
            f->add(u * u * p0.x + 2 * u * t * p1.x + t * t * p2.x, u * u * p0.y + 2 * u * t * p1.y + t * t * p2.y);
        }
        return 0;
    }
    static int cubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
        auto* f = static_cast<Flattener*>(user);
        const FontPoint p0 = f->last, p1{double(c1->x), double(c1->y)}, p2{double(c2->x), double(c2->y)},
                        p3{double(to->x), double(to->y)};
        const double d = std::max(std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y),
                                  std::hypot(p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y));
        const int n = f->segments(d, 0.75);
        for (int i = 1; i <= n; ++i) {
            const double t = double(i) / n, u = 1 - t;
            const double a = u * u * u, b = 3 * u * u * t, cc = 3 * u * t * t, e = t * t * t;
            f->add(a * p0.x + b * p1.x + cc * p2.x + e * p3.x, a * p0.y + b * p1.y + cc * p2.y + e * p3.y);
        }
        return 0;
    }
};

double signedArea(const std::vector<FontPoint>& pts) {
    double a = 0;
    for (std::size_t i = 0; i + 1 < pts.size(); ++i) a += pts[i].x * pts[i + 1].y - pts[i + 1].x * pts[i].y;
    return a / 2;
}

// Closes each contour, drops those that enclose nothing and marks the holes: contours winding against the
// outline's fill orientation.
void finishContours(std::vector<Contour>& contours, FT_Orientation orientation) {
    std::vector<Contour> kept;
    for (Contour& c : contours) {
        auto& p = c.points;
        if (p.size() < 3) continue;
        if (p.front().x != p.back().x || p.front().y != p.back().y) p.push_back(p.front());
        const double area = signedArea(p);
        if (area == 0 || p.size() > std::size_t(MAX_VERTICES)) continue;
        c.hole = orientation == FT_ORIENTATION_POSTSCRIPT ? area < 0 : area > 0;
        kept.push_back(std::move(c));
    }
    contours = std::move(kept);
}

GlyphOutline flatten(Face& face, unsigned index) {
    GlyphOutline g;
    FT_Face f = face.face.get();
    if (FT_Load_Glyph(f, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) return g;
    g.advance = double(f->glyph->advance.x);
    if (f->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return g;
    FT_Outline* outline = &f->glyph->outline;
    Flattener flattener{face.tolerance, &g.contours, {}};
    const FT_Outline_Funcs funcs{
        &Flattener::moveTo, &Flattener::lineTo, &Flattener::conicTo, &Flattener::cubicTo, 0, 0};
    if (FT_Outline_Decompose(outline, &funcs, &flattener) != 0) g.contours.clear();
    finishContours(g.contours, FT_Outline_Get_Orientation(outline));
    return g;
}

}  // namespace

std::unique_lock<std::mutex> lockFonts() { return std::unique_lock<std::mutex>(fontState().mutex); }

Face* faceFor(const std::string& family, std::string* note) {
    FontState& st = fontState();
    if (!start(st)) {
        if (note) *note = "text cannot be drawn: the font library could not be started";
        return nullptr;
    }
    const std::string asked = family.empty() ? std::string(kDefaultFont) : family;
    FontState::Resolved r = resolve(st, asked);
    if (r.found) return r.face;
    const FontState::Resolved fallback = asked == kDefaultFont ? r : resolve(st, kDefaultFont);
    if (!fallback.face) {
        if (note) *note = "text cannot be drawn: no font can be loaded (not even " + std::string(kDefaultFont) + ")";
        return nullptr;
    }
    if (note) *note = "font \"" + asked + "\" not found: drawn in " + fallback.face->family;
    return fallback.face;
}

const std::string& familyOf(const Face& face) { return face.family; }

double capHeightOf(const Face& face) { return face.capHeight; }

unsigned glyphIndex(Face& face, char32_t codePoint) { return FT_Get_Char_Index(face.face.get(), FT_ULong(codePoint)); }

double kerningOf(Face& face, unsigned left, unsigned right) {
    if (!face.kerning || !left || !right) return 0;
    FT_Vector k{0, 0};
    if (FT_Get_Kerning(face.face.get(), left, right, FT_KERNING_UNSCALED, &k) != 0) return 0;
    return double(k.x);
}

const GlyphOutline& glyphOf(Face& face, unsigned index) {
    const auto it = face.glyphs.find(index);
    if (it != face.glyphs.end()) return it->second;
    return face.glyphs.emplace(index, flatten(face, index)).first->second;
}

}  // namespace subhost::elements::fonts
