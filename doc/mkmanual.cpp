// Turns the user's manual (a small Markdown subset, doc/manual.md) into the PDF
// the add-on opens for help: A4 pages set in DejaVu fonts, a title page, a
// table of contents whose entries link to their sections, headings, page
// numbers, a PDF outline, and a named destination on every section that names
// one ("## Delete {#delete}"), which is where the help opens.
//
// Usage: pxmend_mkmanual MANUAL.md OUT.pdf
//
// Markdown understood: "% " title lines, "#", "##", "###" headings with an
// optional {#name} destination, paragraphs, "- " bullet items (continued by
// indented lines), code blocks indented by four spaces, `code` and **bold**.
#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// ---- Page geometry (points) ----
constexpr double PAGE_W = 595.0, PAGE_H = 842.0;
constexpr double MARGIN_L = 72.0, MARGIN_R = 72.0, MARGIN_T = 70.0, MARGIN_B = 80.0;
constexpr double TEXT_W = PAGE_W - MARGIN_L - MARGIN_R;
constexpr double BODY_SIZE = 10.5, CODE_SIZE = 9.0, LEADING = 1.38;

enum class Style { Body, Bold, Code, H1, H2, H3, Title, Subtitle, Footer };

// A font face from fontconfig, refused unless it is one of the DejaVu families.
struct Fonts {
    cairo_font_face_t* serif = nullptr;
    cairo_font_face_t* serifBold = nullptr;
    cairo_font_face_t* sansBold = nullptr;
    cairo_font_face_t* mono = nullptr;
    ~Fonts() {
        for (auto* face : {serif, serifBold, sansBold, mono})
            if (face) cairo_font_face_destroy(face);
    }
};

cairo_font_face_t* dejavuFace(const char* spec) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(spec));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    FcChar8* family = nullptr;
    if (!match || FcPatternGetString(match, FC_FAMILY, 0, &family) != FcResultMatch ||
        std::string(reinterpret_cast<char*>(family)).rfind("DejaVu", 0) != 0) {
        if (match) FcPatternDestroy(match);
        throw std::runtime_error(std::string("font \"") + spec + "\" not found (install fonts-dejavu-core)");
    }
    cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(match);
    FcPatternDestroy(match);
    return face;
}

// ---- The document ----

struct Span {
    std::string text;
    Style style;
};

enum class BlockKind { Heading, Paragraph, Bullet, Code };

struct Block {
    BlockKind kind = BlockKind::Paragraph;
    int level = 0;     // headings 1-3
    std::string dest;  // headings: named destination
    std::vector<Span> spans;
    std::vector<std::string> codeLines;
};

struct Document {
    std::vector<std::string> titleLines;
    std::vector<Block> blocks;
};

// Splits inline `code` and **bold** marks off a text.
std::vector<Span> inlineSpans(const std::string& text, Style base) {
    std::vector<Span> spans;
    std::string current;
    Style style = base;
    auto flush = [&] {
        if (!current.empty()) spans.push_back({current, style});
        current.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '`') {
            flush();
            style = style == Style::Code ? base : Style::Code;
        } else if (style != Style::Code && text.compare(i, 2, "**") == 0) {
            flush();
            style = style == Style::Bold ? base : Style::Bold;
            ++i;
        } else {
            current += text[i];
        }
    }
    flush();
    return spans;
}

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

Document parse(std::istream& in) {
    Document doc;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    int autoDest = 0;
    std::set<std::string> dests;
    for (std::size_t i = 0; i < lines.size();) {
        const std::string& line = lines[i];
        if (line.rfind("% ", 0) == 0) {
            doc.titleLines.push_back(line.substr(2));
            ++i;
        } else if (trim(line).empty()) {
            ++i;
        } else if (line[0] == '#') {
            Block b;
            b.kind = BlockKind::Heading;
            while (b.level < static_cast<int>(line.size()) && line[b.level] == '#') ++b.level;
            if (b.level > 3) throw std::runtime_error("heading deeper than ###: " + line);
            std::string text = trim(line.substr(b.level));
            const auto open = text.rfind("{#");
            if (open != std::string::npos && text.back() == '}') {
                b.dest = text.substr(open + 2, text.size() - open - 3);
                text = trim(text.substr(0, open));
            } else {
                b.dest = "section" + std::to_string(++autoDest);
            }
            if (!dests.insert(b.dest).second) throw std::runtime_error("destination named twice: " + b.dest);
            b.spans = {{text, b.level == 1 ? Style::H1 : b.level == 2 ? Style::H2 : Style::H3}};
            doc.blocks.push_back(b);
            ++i;
        } else if (line.rfind("    ", 0) == 0) {
            Block b;
            b.kind = BlockKind::Code;
            while (i < lines.size() && (lines[i].rfind("    ", 0) == 0 || trim(lines[i]).empty())) {
                b.codeLines.push_back(lines[i].size() >= 4 ? lines[i].substr(4) : "");
                ++i;
            }
            while (!b.codeLines.empty() && trim(b.codeLines.back()).empty()) b.codeLines.pop_back();
            doc.blocks.push_back(b);
        } else {
            const bool bullet = line.rfind("- ", 0) == 0;
            std::string text = bullet ? line.substr(2) : line;
            ++i;
            while (i < lines.size() && !trim(lines[i]).empty() && lines[i][0] != '#' && lines[i].rfind("- ", 0) != 0 &&
                   !(lines[i].rfind("    ", 0) == 0 && !bullet)) {
                text += " " + trim(lines[i]);
                ++i;
            }
            Block b;
            b.kind = bullet ? BlockKind::Bullet : BlockKind::Paragraph;
            b.spans = inlineSpans(text, Style::Body);
            doc.blocks.push_back(b);
        }
    }
    return doc;
}

// ---- Layout ----

// A word or piece placed on a line: x offset from the left margin.
struct Piece {
    std::string text;
    Style style;
    double x;
};

struct Line {
    std::vector<Piece> pieces;
    double height;              // advance to the next line
    double spaceBefore = 0;     // extra space above
    std::string dest;           // a heading's destination, set on its first line
    int level = 0;              // a heading's level
    bool keepWithNext = false;  // headings stay with the text after them
    bool bullet = false;        // first line of a bullet item
};

struct Placed {
    const Line* line;
    int page;  // 0-based among all pages
    double y;  // baseline
};

class Typesetter {
public:
    explicit Typesetter(Fonts& fonts) : fonts_(fonts) {
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
        cr_ = cairo_create(surface_);
    }
    ~Typesetter() {
        cairo_destroy(cr_);
        cairo_surface_destroy(surface_);
    }
    Typesetter(const Typesetter&) = delete;
    Typesetter& operator=(const Typesetter&) = delete;

    // Selects the face and size of style on cr, with unrounded glyph advances so that
    // what is measured here is what the PDF shows.
    void use(cairo_t* cr, Style style) const {
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
        cairo_set_font_options(cr, options);
        cairo_font_options_destroy(options);
        cairo_set_font_face(cr, face(style));
        cairo_set_font_size(cr, size(style));
    }
    double width(const std::string& text, Style style) const {
        use(cr_, style);
        cairo_text_extents_t ext;
        cairo_text_extents(cr_, text.c_str(), &ext);
        return ext.x_advance;
    }
    static double size(Style style) {
        switch (style) {
        case Style::Code:
            return CODE_SIZE;
        case Style::H1:
            return 18.0;
        case Style::H2:
            return 13.5;
        case Style::H3:
            return 11.5;
        case Style::Title:
            return 30.0;
        case Style::Subtitle:
            return 14.0;
        case Style::Footer:
            return 9.0;
        default:
            return BODY_SIZE;
        }
    }

    // Breaks spans into lines of at most maxWidth, starting at indent.
    std::vector<Line> wrap(const std::vector<Span>& spans, double indent, double maxWidth, double lineHeight) const {
        std::vector<Line> lines(1);
        double x = indent;
        bool pendingSpace = false;
        for (const Span& span : spans) {
            std::size_t i = 0;
            const std::string& t = span.text;
            while (i < t.size()) {
                if (t[i] == ' ') {
                    pendingSpace = true;
                    ++i;
                    continue;
                }
                std::size_t end = t.find(' ', i);
                if (end == std::string::npos) end = t.size();
                const std::string word = t.substr(i, end - i);
                i = end;
                const double space =
                    pendingSpace ? width(" ", span.style == Style::Code ? Style::Body : span.style) : 0.0;
                const double w = width(word, span.style);
                if (!lines.back().pieces.empty() && x + space + w > indent + maxWidth) {
                    lines.push_back({});
                    x = indent;
                } else {
                    x += space;
                }
                lines.back().pieces.push_back({word, span.style, x});
                x += w;
                pendingSpace = false;
            }
        }
        for (Line& l : lines) l.height = lineHeight;
        return lines;
    }

private:
    cairo_font_face_t* face(Style style) const {
        switch (style) {
        case Style::Bold:
            return fonts_.serifBold;
        case Style::Code:
            return fonts_.mono;
        case Style::H1:
        case Style::H2:
        case Style::H3:
        case Style::Title:
            return fonts_.sansBold;
        default:
            return fonts_.serif;
        }
    }
    Fonts& fonts_;
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

// All lines of the body in reading order.
std::vector<Line> bodyLines(const Document& doc, const Typesetter& ts) {
    std::vector<Line> out;
    const double bodyLine = BODY_SIZE * LEADING;
    for (const Block& b : doc.blocks) {
        switch (b.kind) {
        case BlockKind::Heading: {
            const Style st = b.spans[0].style;
            const double sz = Typesetter::size(st);
            auto lines = ts.wrap(b.spans, 0, TEXT_W, sz * 1.3);
            lines.front().spaceBefore = b.level == 1 ? 0 : sz * 0.9;
            lines.front().dest = b.dest;
            lines.front().level = b.level;
            for (Line& l : lines) l.keepWithNext = true;
            lines.back().height += sz * 0.35;
            out.insert(out.end(), lines.begin(), lines.end());
            break;
        }
        case BlockKind::Paragraph:
        case BlockKind::Bullet: {
            const double indent = b.kind == BlockKind::Bullet ? 16.0 : 0.0;
            auto lines = ts.wrap(b.spans, indent, TEXT_W - indent, bodyLine);
            lines.front().spaceBefore = b.kind == BlockKind::Bullet ? 2.0 : 5.0;
            lines.front().bullet = b.kind == BlockKind::Bullet;
            out.insert(out.end(), lines.begin(), lines.end());
            break;
        }
        case BlockKind::Code: {
            bool first = true;
            for (const std::string& text : b.codeLines) {
                // Long code lines are cut into pieces that fit the text width.
                const double charW = ts.width("M", Style::Code);
                const std::size_t perLine = static_cast<std::size_t>((TEXT_W - 16) / charW);
                for (std::size_t at = 0; at == 0 || at < text.size(); at += perLine) {
                    Line l;
                    l.pieces.push_back({text.substr(at, perLine), Style::Code, 16.0});
                    l.height = CODE_SIZE * 1.35;
                    l.spaceBefore = first ? 5.0 : 0.0;
                    first = false;
                    out.push_back(l);
                    if (perLine == 0) break;
                }
            }
            break;
        }
        }
    }
    return out;
}

// Places lines on pages from firstPage; a chapter (level 1) starts a new page.
std::vector<Placed> paginate(const std::vector<Line>& lines, int firstPage) {
    std::vector<Placed> placed;
    int page = firstPage;
    double y = MARGIN_T;
    const double bottom = PAGE_H - MARGIN_B;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        if (l.level == 1 && !placed.empty()) {
            ++page;
            y = MARGIN_T;
        }
        double need = l.spaceBefore + l.height;
        // A heading keeps its lines and two lines of what follows on its page.
        if (l.keepWithNext) {
            for (std::size_t j = i + 1, extra = 0; j < lines.size() && extra < 2; ++j) {
                if (lines[j].keepWithNext) {
                    need += lines[j].height;
                } else {
                    need += lines[j].spaceBefore + lines[j].height;
                    ++extra;
                }
            }
        }
        if (y + need > bottom && y > MARGIN_T) {
            ++page;
            y = MARGIN_T;
        }
        if (y > MARGIN_T) y += l.spaceBefore;
        placed.push_back({&l, page, y + l.height * 0.75});
        y += l.height;
    }
    return placed;
}

struct TocEntry {
    std::string text;
    std::string dest;
    int level;
    int page;
};

constexpr double TOC_LINE = BODY_SIZE * 1.55;
constexpr double TOC_TOP = MARGIN_T + 40.0;

int tocPageCount(std::size_t entries) {
    const int perPage = static_cast<int>((PAGE_H - MARGIN_B - TOC_TOP) / TOC_LINE);
    return static_cast<int>((entries + perPage - 1) / perPage);
}

// ---- Drawing ----

void drawText(cairo_t* cr, const Typesetter& ts, const std::string& text, Style style, double x, double y) {
    ts.use(cr, style);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
}

std::string quoted(const std::string& attr, const std::string& value) { return attr + "='" + value + "'"; }

void drawFooter(cairo_t* cr, const Typesetter& ts, int pageNumber, const std::string& title) {
    cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
    cairo_set_line_width(cr, 0.5);
    cairo_move_to(cr, MARGIN_L, PAGE_H - MARGIN_B + 28);
    cairo_line_to(cr, PAGE_W - MARGIN_R, PAGE_H - MARGIN_B + 28);
    cairo_stroke(cr);
    drawText(cr, ts, title, Style::Footer, MARGIN_L, PAGE_H - MARGIN_B + 42);
    const std::string number = std::to_string(pageNumber);
    drawText(cr, ts, number, Style::Footer, PAGE_W - MARGIN_R - ts.width(number, Style::Footer),
             PAGE_H - MARGIN_B + 42);
    cairo_set_source_rgb(cr, 0, 0, 0);
}

void drawTitlePage(cairo_t* cr, const Typesetter& ts, const Document& doc) {
    double y = 260;
    for (std::size_t i = 0; i < doc.titleLines.size(); ++i) {
        const Style st = i == 0 ? Style::Title : Style::Subtitle;
        drawText(cr, ts, doc.titleLines[i], st, MARGIN_L, y);
        y += i == 0 ? 44 : 24;
    }
    cairo_set_line_width(cr, 1.5);
    cairo_move_to(cr, MARGIN_L, 225);
    cairo_line_to(cr, PAGE_W - MARGIN_R, 225);
    cairo_stroke(cr);
}

void drawToc(cairo_t* cr, const Typesetter& ts, const std::vector<TocEntry>& toc, const std::string& footer) {
    const int perPage = static_cast<int>((PAGE_H - MARGIN_B - TOC_TOP) / TOC_LINE);
    for (std::size_t i = 0; i < toc.size(); ++i) {
        if (i % perPage == 0) {
            if (i > 0) cairo_show_page(cr);
            drawText(cr, ts, "Contents", Style::H1, MARGIN_L, MARGIN_T + 14);
            drawFooter(cr, ts, 2 + static_cast<int>(i / perPage), footer);
        }
        const TocEntry& e = toc[i];
        const double y = TOC_TOP + TOC_LINE * static_cast<double>(i % perPage);
        const double indent = e.level == 1 ? 0.0 : 18.0;
        const Style st = e.level == 1 ? Style::Bold : Style::Body;
        const std::string number = std::to_string(e.page);
        cairo_tag_begin(cr, CAIRO_TAG_LINK, quoted("dest", e.dest).c_str());
        drawText(cr, ts, e.text, st, MARGIN_L + indent, y);
        // Dot leaders between the entry and its page number.
        const double textEnd = MARGIN_L + indent + ts.width(e.text, st) + 6;
        const double numberX = PAGE_W - MARGIN_R - ts.width(number, Style::Body);
        cairo_set_source_rgb(cr, 0.55, 0.55, 0.55);
        const double dotW = ts.width(". ", Style::Body);
        for (double x = numberX - 8 - dotW; x > textEnd; x -= dotW) drawText(cr, ts, ".", Style::Body, x, y);
        cairo_set_source_rgb(cr, 0, 0, 0);
        drawText(cr, ts, number, Style::Body, numberX, y);
        cairo_tag_end(cr, CAIRO_TAG_LINK);
    }
}

void drawBody(cairo_t* cr, const Typesetter& ts, const std::vector<Placed>& placed, int firstPage,
              const std::string& footer) {
    int page = firstPage;
    drawFooter(cr, ts, page + 1, footer);
    int parents[3] = {CAIRO_PDF_OUTLINE_ROOT, CAIRO_PDF_OUTLINE_ROOT, CAIRO_PDF_OUTLINE_ROOT};
    for (const Placed& p : placed) {
        while (p.page > page) {
            cairo_show_page(cr);
            ++page;
            drawFooter(cr, ts, page + 1, footer);
        }
        const Line& l = *p.line;
        if (!l.dest.empty()) {
            // The destination sits a little above the heading so that the viewer shows it whole.
            cairo_tag_begin(
                cr, CAIRO_TAG_DEST,
                (quoted("name", l.dest) + " x=0 y=" + std::to_string(static_cast<int>(p.y - l.height - 12))).c_str());
            cairo_tag_end(cr, CAIRO_TAG_DEST);
            std::string title;
            for (const Piece& piece : l.pieces) title += (title.empty() ? "" : " ") + piece.text;
            const int parent = parents[l.level - 1];
            const int id = cairo_pdf_surface_add_outline(cairo_get_target(cr), parent, title.c_str(),
                                                         quoted("dest", l.dest).c_str(),
                                                         static_cast<cairo_pdf_outline_flags_t>(0));
            for (int k = l.level; k < 3; ++k) parents[k] = id;
        }
        if (l.bullet) drawText(cr, ts, "\u2022", Style::Body, MARGIN_L + 5, p.y);
        if (l.level > 0) cairo_set_source_rgb(cr, 0.10, 0.22, 0.42);
        for (const Piece& piece : l.pieces) drawText(cr, ts, piece.text, piece.style, MARGIN_L + piece.x, p.y);
        cairo_set_source_rgb(cr, 0, 0, 0);
        if (l.level == 1) {
            cairo_set_line_width(cr, 0.8);
            cairo_move_to(cr, MARGIN_L, p.y + 6);
            cairo_line_to(cr, PAGE_W - MARGIN_R, p.y + 6);
            cairo_stroke(cr);
        }
    }
}

std::string headingText(const Line& l) {
    std::string text;
    for (const Piece& piece : l.pieces) text += (text.empty() ? "" : " ") + piece.text;
    return text;
}

void render(const Document& doc, const std::string& outPath) {
    Fonts fonts;
    fonts.serif = dejavuFace("DejaVu Serif");
    fonts.serifBold = dejavuFace("DejaVu Serif:bold");
    fonts.sansBold = dejavuFace("DejaVu Sans:bold");
    fonts.mono = dejavuFace("DejaVu Sans Mono");
    Typesetter ts(fonts);

    const std::vector<Line> lines = bodyLines(doc, ts);
    std::size_t tocEntries = 0;
    for (const Line& l : lines)
        if (!l.dest.empty() && l.level <= 2) ++tocEntries;
    const int firstBodyPage = 1 + tocPageCount(tocEntries);
    const std::vector<Placed> placed = paginate(lines, firstBodyPage);
    std::vector<TocEntry> toc;
    for (const Placed& p : placed)
        if (!p.line->dest.empty() && p.line->level <= 2)
            toc.push_back({headingText(*p.line), p.line->dest, p.line->level, p.page + 1});

    const std::string title = doc.titleLines.empty() ? "Manual" : doc.titleLines.front();
    cairo_surface_t* surface = cairo_pdf_surface_create(outPath.c_str(), PAGE_W, PAGE_H);
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, title.c_str());
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "PixelMend");
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    drawTitlePage(cr, ts, doc);
    cairo_show_page(cr);
    drawToc(cr, ts, toc, title);
    cairo_show_page(cr);
    drawBody(cr, ts, placed, firstBodyPage, title);
    cairo_show_page(cr);
    const cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t finished = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS || finished != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error(std::string("cairo: ") +
                                 cairo_status_to_string(status != CAIRO_STATUS_SUCCESS ? status : finished));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: pxmend_mkmanual MANUAL.md OUT.pdf\n";
        return 2;
    }
    try {
        std::ifstream in(argv[1]);
        if (!in) throw std::runtime_error(std::string("cannot read ") + argv[1]);
        const Document doc = parse(in);
        // Written beside the target, then renamed, so that a failed run leaves no half PDF.
        const std::string temp = std::string(argv[2]) + ".tmp";
        render(doc, temp);
        std::filesystem::rename(temp, argv[2]);
    } catch (const std::exception& e) {
        std::cerr << "pxmend_mkmanual: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
