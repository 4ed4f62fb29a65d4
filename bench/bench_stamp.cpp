// Speed and memory of the stamp on the busy A0 sheet: 10 000 mixed elements (lines, arcs, filled shapes,
// text, cells) burnt into the 1-bit 18720 x 13240 scan, one design unit a pixel.
//   stamp:        the add-on's stamp command end to end in the host: both passes over the elements, the
//                 read of the block they cover, drawing, and the write into the host's working image
//                 (StampDelete off, so that every iteration stamps the same set)
//   cairoAlone:   Cairo drawing the same strokes (the host's expansion of every element, stroked to half a
//                 pixel beforehand, pens of the default weights, filled shapes filled) into a 1-bit
//                 CAIRO_FORMAT_A1 surface of the sheet's size, without antialiasing: the bar
//   writeBack:    the stamped sheet written back to its G4 TIFF (timed once, printed at the end)
// Peak memory (VmHWM) of the stamp run, counted from after the sheet's generation, is printed at the end.
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "busy_design.h"
#include "frame/app.h"
#include "host/mdlresource.h"
#include "peak_memory.h"
#include "resources/ids.h"
#include "settings/settings.h"
#include "sheets.h"
#include "subhost/elements.h"
#include "subhost/host.h"

namespace {

namespace fs = std::filesystem;
namespace el = subhost::elements;

// The benchmark's files and the figures printed at the end.
struct BenchStamp {
    fs::path dir;
    std::string design;
    double writeBackMs = 0;
    double stampPeakMiB = 0;
    double writeBackPeakMiB = 0;
    ~BenchStamp() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
};
BenchStamp bench;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "bench_stamp: %s\n", message.c_str());
    std::exit(1);
}

// The busy sheet as scan.tif and the busy design attaching it at the origin, made once.
const std::string& designFile() {
    if (!bench.design.empty()) return bench.design;
    bench.dir = fs::temp_directory_path() / ("pxmend-bench-stamp-" + std::to_string(::getpid()));
    fs::create_directories(bench.dir);
    std::string error;
    if (!pxbench::writeSheetG4(pxbench::makeSheet(pxbench::SheetKind::Busy), (bench.dir / "scan.tif").string(), &error))
        fail(error);
    nlohmann::json design = pxbench::busyDesign();
    design["rasters"] = {{{"file", "scan.tif"}, {"origin", {0, 0, 0}}}};
    bench.design = (bench.dir / "busy-a0-stamp.json").string();
    std::ofstream(bench.design) << design.dump();
    return bench.design;
}

// Opens the design and loads the add-on linked into this program, set to stamp everything over the raster.
void startHost() {
    subhost::hostReset();
    subhost::setCfgVar("PXMEND_SETTINGS", (bench.dir / "Pxmend.ini").string());
    std::string error;
    if (!subhost::openDesign(designFile(), &error)) fail(error);
    if (!subhost::loadLinkedApplication(&MdlMain, &MdlResources, (bench.dir / "pxmend.so").string(), "KEYIN", &error))
        fail(error);
    s__globals.StampMode = 5;
    s__globals.DisplayPrompts = 0;
    s__globals.StampDelete = 0;
    s__globals.Backup = 0;
}

void stampOnce() {
    subhost::clearTranscript();
    subhost::runCommand(rid::CMD_STAMP, "");
    subhost::dataPoint(DPoint3d{9000, 6000, 0}, 0);
    for (const auto& e : subhost::transcript())
        if (e.value("event", "") == "messageBox") fail("the stamp said: " + e.value("text", ""));
}

pxbench::PeakMeter meter;

void BM_Stamp(benchmark::State& state) {
    designFile();
    meter.reset();  // the sheet's generation is not part of the stamp's memory
    startHost();
    stampOnce();  // the first run loads the raster's record and decodes the sheet
    for (auto _ : state) stampOnce();
    bench.stampPeakMiB = meter.peakMiB();
    meter.reset();
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    if (!subhost::saveDesign(&error)) fail(error);
    bench.writeBackMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    bench.writeBackPeakMiB = meter.peakMiB();
    subhost::setDefaultAnswer(ACTIONBUTTON_NO);
    subhost::unloadApplication(0);
    subhost::hostReset();
}
BENCHMARK(BM_Stamp)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One stroked part: its pixel points, pen width and whether it is filled.
struct Stroke {
    std::vector<std::pair<double, double>> points;
    double width = 1;
    bool filled = false;
};

// The strokes the stamp draws: every element expanded and stroked to half a pixel (done before timing).
std::vector<Stroke> strokesOfDesign() {
    subhost::hostReset();
    std::string error;
    if (!subhost::openDesign(designFile(), &error)) fail(error);
    std::vector<Stroke> strokes;
    std::vector<el::Element> parts;
    auto add = [&](const el::Element& part) {
        Stroke s;
        for (const DPoint3d& p : el::stroke(part, 0.5)) s.points.emplace_back(p.x, double(pxbench::kSheetHeight) - p.y);
        s.width = part.weight + 1;
        s.filled = part.filled;
        if (s.points.size() >= 2) strokes.push_back(std::move(s));
    };
    el::forEachModelElement([&](const el::Element& e, const el::Definitions& definitions) {
        parts.clear();
        el::displayGeometry(e, definitions, &parts, nullptr);
        for (const el::Element& part : parts) {
            if (part.type != CELL_HEADER_ELM) add(part);
            for (const el::Element& c : part.components) add(c);
        }
    });
    subhost::hostReset();
    return strokes;
}

void BM_CairoAlone(benchmark::State& state) {
    const std::vector<Stroke> strokes = strokesOfDesign();
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_A1, pxbench::kSheetWidth, pxbench::kSheetHeight),
        cairo_surface_destroy);
    std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr(cairo_create(surface.get()), cairo_destroy);
    cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_NONE);
    cairo_set_line_cap(cr.get(), CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr.get(), CAIRO_LINE_JOIN_ROUND);
    cairo_set_fill_rule(cr.get(), CAIRO_FILL_RULE_EVEN_ODD);
    for (auto _ : state) {
        for (const Stroke& s : strokes) {
            cairo_new_path(cr.get());
            cairo_move_to(cr.get(), s.points[0].first, s.points[0].second);
            for (std::size_t i = 1; i < s.points.size(); ++i)
                cairo_line_to(cr.get(), s.points[i].first, s.points[i].second);
            if (s.filled) {
                cairo_close_path(cr.get());
                cairo_fill_preserve(cr.get());
            }
            cairo_set_line_width(cr.get(), s.width);
            cairo_stroke(cr.get());
        }
        cairo_surface_flush(surface.get());
    }
    state.counters["strokes"] = double(strokes.size());
}
BENCHMARK(BM_CairoAlone)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf(
        "peak memory of the stamp run (sheet, design and add-on): %.0f MiB\n"
        "write-back of the stamped sheet: %.0f ms, peak memory during it %.0f MiB\n",
        bench.stampPeakMiB, bench.writeBackMs, bench.writeBackPeakMiB);
    return 0;
}
