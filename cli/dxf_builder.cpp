// Reading a DXF drawing: dxflib's callbacks turned into design elements kept
// per block and for model space.
#include <dl_creationadapter.h>
#include <dl_dxf.h>

#include <cmath>
#include <fstream>
#include <numbers>

#include "cli/dxf_drawing.h"
#include "cli/dxf_reader.h"
#include "cli/dxf_text.h"

namespace pixelmend::dxf {
namespace {

using nlohmann::json;

json pointJson(Point p) { return json::array({p[0], p[1]}); }

// Angle in degrees brought into (0, 360]; 0 becomes 360 (a whole turn).
double positiveSweep(double sweep) {
    sweep = std::fmod(sweep, 360.0);
    if (sweep <= 1e-9) sweep += 360.0;
    return sweep;
}

// The nine justification names, by MTEXT attachment point 1..9.
const char* const kAttachment[9] = {"leftTop",     "centerTop",  "rightTop",     "leftCenter", "centerCenter",
                                    "rightCenter", "leftBottom", "centerBottom", "rightBottom"};

// A TEXT's justification from its horizontal (72) and vertical (73) alignment.
std::string textJustification(int h, int v) {
    if (h == 4) return "centerCenter";  // "middle"
    const std::string side = h == 1 ? "center" : h == 2 ? "right" : "left";
    if (h == 3 || h == 5) return "leftBottom";  // aligned and fit run from the first point
    return side + (v == 3 ? "Top" : v == 2 ? "Center" : "Bottom");
}

// Points without repeats of the one before.
void pushDistinct(std::vector<Point>& points, Point p) {
    if (points.empty() || std::fabs(points.back()[0] - p[0]) > 1e-12 || std::fabs(points.back()[1] - p[1]) > 1e-12)
        points.push_back(p);
}

// A polyline vertex: position and the bulge of the segment leaving it.
struct Vertex {
    Point p;
    double bulge = 0;
};

// Points of a polyline through vertices (closed: back to the first), arcs stroked.
std::vector<Point> polylinePoints(const std::vector<Vertex>& v, bool closed) {
    std::vector<Point> points;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const bool last = i + 1 == v.size();
        if (last && !closed) {
            pushDistinct(points, v[i].p);
            break;
        }
        for (Point p : bulgeSegment(v[i].p, v[last ? 0 : i + 1].p, v[i].bulge)) pushDistinct(points, p);
    }
    if (closed && points.size() > 1 && points.front() == points.back()) points.pop_back();
    return points;
}

// dxflib's callbacks: entities become items of the current block or of model space.
class Builder : public DL_CreationAdapter {
public:
    Builder(Drawing& drawing, ReaderState& reader) : d_(drawing), rs_(reader) {}

    void addLayer(const DL_LayerData& data) override {
        Layer layer;
        layer.color = attributes.getColor();
        layer.lineweight = attributes.getWidth();
        d_.layers[data.name] = layer;
    }

    void addBlock(const DL_BlockData& data) override {
        Block& block = d_.blocks[data.name];
        block = Block{};
        block.base = {data.bpx, data.bpy};
        target_ = &block.items;
        inBlock_ = true;
    }
    void endBlock() override {
        target_ = &d_.items;
        inBlock_ = false;
    }

    void addLine(const DL_LineData& data) override {
        add({{"type", "line"}, {"points", {pointJson({data.x1, data.y1}), pointJson({data.x2, data.y2})}}}, false);
    }

    void addCircle(const DL_CircleData& data) override {
        if (!(data.radius > 0)) return skip("CIRCLE (radius 0)");
        add({{"type", "ellipse"}, {"center", pointJson({data.cx, data.cy})}, {"axes", {data.radius, data.radius}}},
            true);
    }

    void addArc(const DL_ArcData& data) override {
        if (!(data.radius > 0)) return skip("ARC (radius 0)");
        add({{"type", "arc"},
             {"center", pointJson({data.cx, data.cy})},
             {"axes", {data.radius, data.radius}},
             {"rotation", 0.0},
             {"start", data.angle1},
             {"sweep", positiveSweep(data.angle2 - data.angle1)}},
            true);
    }

    void addEllipse(const DL_EllipseData& data) override {
        const double a = std::hypot(data.mx, data.my), b = a * data.ratio;
        if (!(a > 0) || !(b > 0)) return skip("ELLIPSE (axis 0)");
        const double sweep = degrees(data.angle2 - data.angle1);
        const double turns = std::fmod(std::fabs(sweep), 360.0);
        const bool whole = sweep != 0 && (turns < 1e-6 || turns > 360.0 - 1e-6);
        json e = {{"type", whole ? "ellipse" : "arc"},
                  {"center", pointJson({data.cx, data.cy})},
                  {"axes", {a, b}},
                  {"rotation", degrees(std::atan2(data.my, data.mx))}};
        if (!whole) {
            // Seen from below the parameter runs the other way round.
            const double sign = belowPlane() ? -1 : 1;
            e["start"] = sign * degrees(data.angle1);
            e["sweep"] = sign * positiveSweep(sweep);
        }
        add(std::move(e), false);
    }

    void addPolyline(const DL_PolylineData& data) override {
        finishPolyline();
        polyline_ = PendingPolyline{};
        polyline_->sym = symbology();
        polyline_->closed = (data.flags & 1) != 0;
        polyline_->mesh = (data.flags & (16 | 64)) != 0;
        polyline_->kind = rs_.entityKind;
        polyline_->line = rs_.entityLine;
        polyline_->placement = plane(rs_.entityKind.c_str());
        // Without a vertex count dxflib hands on the vertices of the LWPOLYLINE before.
        polyline_->ignoreVertices = rs_.entityKind == "LWPOLYLINE" && !rs_.polylineCounted;
    }
    void addVertex(const DL_VertexData& data) override {
        if (polyline_ && !polyline_->ignoreVertices) polyline_->vertices.push_back({{data.x, data.y}, data.bulge});
    }
    void endSequence() override { finishPolyline(); }

    void addText(const DL_TextData& data) override {
        const std::string text = plainText(data.text);
        if (text.empty()) return skip("TEXT (empty)");
        if (!(data.height > 0)) return skip("TEXT (height 0)");
        const bool fromAlignment = (data.hJustification != 0 || data.vJustification != 0) && data.hJustification != 3 &&
                                   data.hJustification != 5 && std::isfinite(data.apx) && std::isfinite(data.apy);
        json e = {{"type", "text"},
                  {"origin", pointJson(fromAlignment ? Point{data.apx, data.apy} : Point{data.ipx, data.ipy})},
                  {"text", text},
                  {"height", data.height},
                  {"rotation", degrees(data.angle)},
                  {"justification", textJustification(data.hJustification, data.vJustification)}};
        if (data.xScaleFactor > 0 && std::fabs(data.xScaleFactor - 1) > 1e-12) e["widthFactor"] = data.xScaleFactor;
        add(std::move(e), true);
    }

    void addMTextChunk(const std::string& text) override {
        if (mtext_.size() < 4 * kMaxTextBytes) mtext_ += text;
    }
    void addMText(const DL_MTextData& data) override {
        std::vector<std::string> lines = mtextLines(mtext_ + data.text);
        mtext_.clear();
        while (!lines.empty() && lines.back().empty()) lines.pop_back();
        if (lines.empty()) return skip("MTEXT (empty)");
        if (!(data.height > 0)) return skip("MTEXT (height 0)");
        const bool hasDirection = std::hypot(data.dirx, data.diry) > 1e-12;
        const double rotation = hasDirection ? degrees(std::atan2(data.diry, data.dirx)) : degrees(data.angle);
        const int attach = data.attachmentPoint >= 1 && data.attachmentPoint <= 9 ? data.attachmentPoint : 1;
        json e = {{"origin", pointJson({data.ipx, data.ipy})},
                  {"height", data.height},
                  {"rotation", rotation},
                  {"justification", kAttachment[attach - 1]}};
        if (lines.size() == 1) {
            e["type"] = "text";
            e["text"] = lines[0];
        } else {
            // Baselines lie 5/3 heights apart times the spacing factor; the schema counts the gap.
            const double factor = data.lineSpacingFactor > 0 ? data.lineSpacingFactor : 1.0;
            for (std::string& line : lines)
                if (line.empty()) line = " ";
            e["type"] = "textNode";
            e["lines"] = lines;
            e["lineSpacing"] = std::max(0.0, data.height * (5.0 * factor / 3.0 - 1.0));
        }
        add(std::move(e), false);
    }

    void addInsert(const DL_InsertData& data) override {
        if (!(std::fabs(data.sx) > 0) || !(std::fabs(data.sy) > 0)) return skip("INSERT (scale 0)");
        if (!placeable()) return;
        if (paperSpace()) return skip("INSERT (paper space)");
        InsertRef ref;
        ref.block = data.name;
        ref.point = {data.ipx, data.ipy};
        ref.sx = data.sx;
        ref.sy = data.sy;
        ref.angle = data.angle;
        ref.cols = std::max(1, data.cols);
        ref.rows = std::max(1, data.rows);
        ref.colSpacing = data.colSp;
        ref.rowSpacing = data.rowSp;
        ref.mirrored = belowPlane();
        Item item;
        item.sym = symbology();
        item.insert = ref;
        item.line = rs_.entityLine;
        store(std::move(item));
    }

    void addDimLinear(const DL_DimensionData& data, const DL_DimLinearData& edata) override {
        const Point p1 = {edata.dpx1, edata.dpy1};
        const double angle = radians(edata.angle);
        const Point u = {std::cos(angle), std::sin(angle)};
        // The measured length is p1->p2 along the dimension's direction: the second point is
        // taken square across onto the line through the first.
        const double along = (edata.dpx2 - p1[0]) * u[0] + (edata.dpy2 - p1[1]) * u[1];
        dimension(data, p1, {p1[0] + u[0] * along, p1[1] + u[1] * along});
    }
    void addDimAlign(const DL_DimensionData& data, const DL_DimAlignedData& edata) override {
        dimension(data, {edata.epx1, edata.epy1}, {edata.epx2, edata.epy2});
    }
    void addDimRadial(const DL_DimensionData&, const DL_DimRadialData&) override { skip("DIMENSION (radial)"); }
    void addDimDiametric(const DL_DimensionData&, const DL_DimDiametricData&) override {
        skip("DIMENSION (diametric)");
    }
    void addDimAngular(const DL_DimensionData&, const DL_DimAngular2LData&) override { skip("DIMENSION (angular)"); }
    void addDimAngular3P(const DL_DimensionData&, const DL_DimAngular3PData&) override { skip("DIMENSION (angular)"); }
    void addDimOrdinate(const DL_DimensionData&, const DL_DimOrdinateData&) override { skip("DIMENSION (ordinate)"); }

    void addHatch(const DL_HatchData& data) override {
        hatch_ = PendingHatch{};
        hatch_->data = data;
        hatch_->sym = symbology();
        hatch_->line = rs_.entityLine;
        hatch_->placement = plane("HATCH");
    }
    void addHatchLoop(const DL_HatchLoopData&) override {
        if (hatch_) hatch_->loops.emplace_back();
    }
    void addHatchEdge(const DL_HatchEdgeData& edge) override {
        if (hatch_ && !hatch_->loops.empty()) hatchEdge(edge, hatch_->loops.back());
    }

    void endEntity() override {
        if (hatch_) finishHatch();
        finishPolyline();
    }

    // The POLYLINE still open at the end of a section (one without SEQEND).
    void finish() {
        finishPolyline();
        hatch_.reset();
    }

private:
    struct PendingPolyline {
        Symbology sym;
        std::vector<Vertex> vertices;
        bool closed = false, mesh = false, ignoreVertices = false;
        std::string kind;
        long line = 0;
        std::optional<Affine> placement;
    };
    struct PendingHatch {
        DL_HatchData data{0, false, 1, 0, ""};
        Symbology sym;
        std::vector<std::vector<Point>> loops;
        long line = 0;
        std::optional<Affine> placement;
        bool splines = false;
    };

    Drawing& d_;
    ReaderState& rs_;
    std::vector<Item>* target_ = &d_.items;
    bool inBlock_ = false;
    std::optional<PendingPolyline> polyline_;
    std::optional<PendingHatch> hatch_;
    std::string mtext_;

    void skip(const std::string& why) { ++d_.skipped[why]; }

    Symbology symbology() {
        return {attributes.getLayer().empty() ? "0" : attributes.getLayer(), attributes.getColor(),
                attributes.getWidth()};
    }
    bool paperSpace() { return !inBlock_ && attributes.isInPaperSpace(); }

    // True when the entity's extrusion is seen from below the drawing plane (mirrored in x).
    bool belowPlane() { return extrusion && extrusion->getDirection()[2] < 0; }

    // The placement of an entity's object coordinates in the drawing: none, or a mirror in x
    // when seen from below; nullopt (counted as skipped) for an entity tilted out of the plane.
    std::optional<Affine> plane(const char* kind) {
        if (extrusion) {
            const double* n = extrusion->getDirection();
            if (std::fabs(n[0]) > 1e-9 || std::fabs(n[1]) > 1e-9 || n[2] == 0) {
                skip(std::string(kind) + " (not in the drawing plane)");
                return std::nullopt;
            }
            if (n[2] < 0) return Affine{-1, 0, 0, 1, 0, 0};
        }
        return Affine{};
    }
    bool placeable() { return plane(rs_.entityKind.c_str()).has_value(); }

    // Adds an element with the current entity's symbology; inObjectPlane: its coordinates are
    // object coordinates (mirrored when the entity is seen from below).
    void add(json element, bool inObjectPlane) {
        if (paperSpace()) return skip(rs_.entityKind + " (paper space)");
        if (inObjectPlane) {
            const auto placement = plane(rs_.entityKind.c_str());
            if (!placement) return;
            if (placement->a < 0) {
                auto placed = transformElement(element, *placement);
                if (!placed) return skip(rs_.entityKind + " (degenerate)");
                element = std::move(*placed);
            }
        }
        Item item;
        item.sym = symbology();
        item.element = std::move(element);
        item.line = rs_.entityLine;
        store(std::move(item));
    }

    // Keeps an item; past the element limit the reading stops with the problem.
    void store(Item item) {
        if (!rs_.error.empty()) return;
        if (!item.insert && !withinRange(item.element)) return skip(rs_.entityKind + " (coordinates out of range)");
        if (++d_.stored > kMaxElements) {
            rs_.error = "line " + std::to_string(item.line) + ": more than " + std::to_string(kMaxElements) +
                        " entities (the host's limit for a design)";
            return;
        }
        target_->push_back(std::move(item));
    }

    void dimension(const DL_DimensionData& data, Point p1, Point p2) {
        const Point dir = {p2[0] - p1[0], p2[1] - p1[1]};
        const double len = std::hypot(dir[0], dir[1]);
        if (!(len > 1e-12)) return skip("DIMENSION (length 0)");
        json e = {{"type", "dimension"},
                  {"points", {pointJson(p1), pointJson(p2)}},
                  {"offset", (dir[0] * (data.dpy - p1[1]) - dir[1] * (data.dpx - p1[0])) / len}};
        std::string text = data.text;
        if (!text.empty() && text != "<>") {
            std::string joined;
            for (const std::string& line : mtextLines(text)) joined += (joined.empty() ? "" : " ") + line;
            char measured[64];
            std::snprintf(measured, sizeof measured, "%.2f", len);
            for (std::size_t at; (at = joined.find("<>")) != std::string::npos;) joined.replace(at, 2, measured);
            if (!joined.empty()) e["text"] = joined;
        }
        add(std::move(e), false);
    }

    void finishPolyline() {
        if (!polyline_) return;
        PendingPolyline pl = std::move(*polyline_);
        polyline_.reset();
        if (!pl.placement) return;
        if (pl.mesh) return skip(pl.kind + " (mesh)");
        std::vector<Point> points = polylinePoints(pl.vertices, pl.closed);
        if (points.size() < 2) return skip(pl.kind + " (fewer than 2 points)");
        std::vector<json> elements;
        if (pl.closed && points.size() >= 3 && points.size() <= kMaxPoints) {
            elements.push_back({{"type", "shape"}, {"points", json::array()}});
        } else {
            if (pl.closed) points.push_back(points.front());
            // Longer than a line string holds: consecutive line strings sharing their ends.
            for (std::size_t start = 0; start + 1 < points.size(); start += kMaxPoints - 1) {
                const std::size_t end = std::min(points.size(), start + kMaxPoints);
                json pts = json::array();
                for (std::size_t i = start; i < end; ++i) pts.push_back(pointJson(points[i]));
                elements.push_back({{"type", "lineString"}, {"points", std::move(pts)}});
            }
            if (elements.size() > 1) ++d_.notes[pl.kind + " split into line strings of 5000 points"];
        }
        if (elements.front()["type"] == "shape")
            for (Point p : points) elements.front()["points"].push_back(pointJson(p));
        for (json& e : elements) {
            if (pl.placement->a < 0) e = *transformElement(e, *pl.placement);
            Item item;
            item.sym = pl.sym;
            item.element = std::move(e);
            item.line = pl.line;
            store(std::move(item));
        }
    }

    void hatchEdge(const DL_HatchEdgeData& edge, std::vector<Point>& loop) {
        const auto addPoints = [&loop](const std::vector<Point>& points) {
            for (Point p : points) pushDistinct(loop, p);
        };
        switch (edge.type) {
        case 0: {  // a polyline loop: x, y and an optional bulge per vertex
            std::vector<Vertex> vertices;
            for (const auto& v : edge.vertices)
                if (v.size() >= 2) vertices.push_back({{v[0], v[1]}, v.size() >= 3 ? v[2] : 0.0});
            addPoints(polylinePoints(vertices, true));
            break;
        }
        case 1:
            addPoints({{edge.x1, edge.y1}, {edge.x2, edge.y2}});
            break;
        case 2:
        case 3: {
            // Clockwise edges keep their angles measured clockwise.
            const double sign = edge.ccw ? 1 : -1;
            const double a = edge.type == 2 ? edge.radius : std::hypot(edge.mx, edge.my);
            const double b = edge.type == 2 ? edge.radius : a * edge.ratio;
            const double rotation = edge.type == 2 ? 0 : degrees(std::atan2(edge.my, edge.mx));
            const double sweep = positiveSweep(degrees(edge.angle2 - edge.angle1));
            addPoints(arcPoints({edge.cx, edge.cy}, a, b, rotation, sign * degrees(edge.angle1), sign * sweep));
            break;
        }
        case 4: {  // a spline edge: its fit points, else its control points
            hatch_->splines = true;
            for (const auto& p : edge.fitPoints.empty() ? edge.controlPoints : edge.fitPoints)
                if (p.size() >= 2) pushDistinct(loop, {p[0], p[1]});
            break;
        }
        default:
            break;
        }
    }

    // The hatch's pattern: the first pattern line's angle and the distance square across to the
    // next line; without pattern lines the hatch angle and the pattern scale.
    json hatchPattern(const DL_HatchData& data) {
        const HatchExtras& x = rs_.hatch;
        const double angle = x.lineAngle.value_or(data.angle);
        double spacing = 0;
        if (x.lineOffsetX && x.lineOffsetY) {
            const double r = radians(angle);
            spacing = std::fabs(-std::sin(r) * *x.lineOffsetX + std::cos(r) * *x.lineOffsetY);
        }
        if (!(spacing > 0)) spacing = data.scale > 0 ? data.scale : 1.0;
        return {{"angle", angle}, {"spacing", spacing}};
    }

    void finishHatch() {
        PendingHatch h = std::move(*hatch_);
        hatch_.reset();
        if (!h.placement) return;
        if (paperSpace()) return skip("HATCH (paper space)");
        if (!rs_.hatch.hasBoundary) return skip("HATCH (no boundary)");
        json shapes = json::array();
        for (auto& loop : h.loops) {
            if (loop.size() > 1 && loop.front() == loop.back()) loop.pop_back();  // the host closes shapes
            if (loop.size() < 3) continue;
            if (loop.size() > kMaxPoints) return skip("HATCH (boundary over 5000 points)");
            json pts = json::array();
            for (Point p : loop) pts.push_back(pointJson(p));
            shapes.push_back({{"type", "shape"}, {"points", std::move(pts)}});
        }
        if (shapes.empty()) return skip("HATCH (no boundary)");
        if (h.splines) ++d_.notes["HATCH spline edges drawn through their points"];
        json e;
        if (shapes.size() == 1) {
            e = std::move(shapes[0]);
        } else {
            for (std::size_t i = 1; i < shapes.size(); ++i) shapes[i]["hole"] = true;
            e = {{"type", "cell"}, {"name", ""}, {"groupedHole", true}, {"components", std::move(shapes)}};
        }
        json& solidPart = e["type"] == "cell" ? e["components"][0] : e;
        if (h.data.solid)
            solidPart["filled"] = true;
        else
            e["pattern"] = hatchPattern(h.data);
        if (h.placement->a < 0) {
            auto placed = transformElement(e, *h.placement);
            if (!placed) return skip("HATCH (degenerate)");
            e = std::move(*placed);
        }
        Item item;
        item.sym = h.sym;
        item.element = std::move(e);
        item.line = h.line;
        store(std::move(item));
    }
};

}  // namespace

std::string readDrawing(const std::string& path, Drawing* out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return "cannot be opened";
    ReaderState reader;
    reader.fileName = path;
    Drawing drawing;
    Builder builder(drawing, reader);
    {
        const auto pairs = openPairStream(file, &reader);
        DL_Dxf dxf;
        dxf.in(*pairs, &builder);
        builder.finish();
    }
    if (file.bad()) return "cannot be read";
    const std::string problem = finalProblem(reader);
    if (!problem.empty()) return problem;
    for (const auto& [kind, count] : reader.skipped) drawing.skipped[kind] += count;
    if (reader.shortenedValues > 0)
        drawing.notes["texts cut to " + std::to_string(kMaxFedValueBytes) + " bytes"] += reader.shortenedValues;
    *out = std::move(drawing);
    return {};
}

}  // namespace pixelmend::dxf
