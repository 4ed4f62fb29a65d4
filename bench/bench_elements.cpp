// Speed and memory of the host's element world on a busy A0 design: 10 000 mixed
// elements (lines, arcs, filled shapes, text, cells of four components) spread
// over the A0 sheet (18720 x 13240 design units, one unit a pixel of the 400 dpi
// scan), as a drafter's sheet holds them.
//   open:            reading the design description (memory of the design as a counter)
//   scan:            every element found by range (the whole sheet) and view, each read as a
//                    descriptor and freed, as the stamp's gathering does
//   expandAndStroke: every element expanded to simple elements and stroked to half a pixel
// The first scan and expansion after opening (ranges made, glyph outlines loaded) are timed
// once and printed apart from the steady figures.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "busy_design.h"
#include "host/mdlelement.h"
#include "host/mdlraster.h"
#include "host/mdlscan.h"
#include "host/mdlsystem.h"
#include "subhost/elements.h"
#include "subhost/host.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kSheetWidth = 18720, kSheetHeight = 13240;
constexpr int kElements = 10000;

// The benchmark's design file and the figures printed at the end.
struct BenchElements {
    fs::path dir;
    std::string design;
    double designMiB = 0;
    double firstScanMs = 0, firstExpandMs = 0;
    ~BenchElements() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
};
BenchElements bench;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "bench_elements: %s\n", message.c_str());
    std::exit(1);
}

std::size_t heapInUse() { return mallinfo2().uordblks; }

void openDesign() {
    subhost::hostReset();
    std::string error;
    if (!subhost::openDesign(bench.design, &error)) fail(error);
}

const std::string& designFile() {
    if (bench.design.empty()) {
        bench.dir = fs::temp_directory_path() / ("pxmend-bench-elements-" + std::to_string(::getpid()));
        fs::create_directories(bench.dir);
        bench.design = (bench.dir / "busy-a0-elements.json").string();
        std::ofstream(bench.design) << pxbench::busyDesign().dump();
    }
    return bench.design;
}

// Scans the active model by the whole sheet's range in view 0, reading and freeing each element; the count.
int scanAll() {
    ScanCriteria* criteria = mdlScanCriteria_create();
    const DRange3d sheet{{0, 0, 0}, {kSheetWidth, kSheetHeight, 0}};
    ScanRange range{};
    mdlCnv_dRange3dToScanRange(&range, &sheet);
    DgnModelRefP model = mdlModelRef_getActive();
    mdlScanCriteria_setReturnType(criteria, MSSCANCRIT_RETURN_FILEPOS, 1, 0);
    mdlScanCriteria_setModel(criteria, model);
    mdlScanCriteria_setRangeTest(criteria, &range);
    mdlScanCriteria_setViewTest(criteria, 0, model);
    mdlScanCriteria_setDrawnElements(criteria);
    int found = 0;
    std::uint32_t buffer[2048];
    for (;;) {
        int size = 2048;
        std::uint32_t next = 0;
        if (mdlScanCriteria_scan(criteria, buffer, &size, &next) != BUFF_FULL) break;
        for (int i = 0; i < size; ++i) {
            MSElementDescr* descriptor = nullptr;
            if (mdlElmdscr_readToMaster(&descriptor, buffer[i], model, 1, nullptr)) ++found;
            mdlElmdscr_freeAll(&descriptor);
        }
    }
    mdlScanCriteria_free(&criteria);
    return found;
}

// Expands every element to simple elements and strokes them to half a pixel; the stroked points.
std::size_t expandAndStrokeAll() {
    namespace el = subhost::elements;
    std::size_t points = 0;
    std::vector<el::Element> parts;
    el::forEachModelElement([&](const el::Element& e, const el::Definitions& definitions) {
        parts.clear();
        el::displayGeometry(e, definitions, &parts, nullptr);
        for (const el::Element& part : parts) {
            if (part.type != CELL_HEADER_ELM) points += el::stroke(part, 0.5).size();
            for (const el::Element& c : part.components) points += el::stroke(c, 0.5).size();
        }
    });
    return points;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_Open(benchmark::State& state) {
    designFile();
    for (auto _ : state) {
        subhost::hostReset();
        const std::size_t before = heapInUse();
        openDesign();
        bench.designMiB = double(heapInUse() - before) / (1024.0 * 1024.0);
    }
    state.counters["designMiB"] = bench.designMiB;
    // The first scan and expansion on a freshly opened design (ranges and glyph outlines made).
    auto start = std::chrono::steady_clock::now();
    if (scanAll() != kElements) fail("the scan did not find every element");
    bench.firstScanMs = msSince(start);
    start = std::chrono::steady_clock::now();
    expandAndStrokeAll();
    bench.firstExpandMs = msSince(start);
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Scan(benchmark::State& state) {
    designFile();
    openDesign();
    scanAll();
    int found = 0;
    for (auto _ : state) found = scanAll();
    if (found != kElements) fail("the scan found " + std::to_string(found) + " of " + std::to_string(kElements));
    state.counters["elements"] = found;
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond);

void BM_ExpandAndStroke(benchmark::State& state) {
    designFile();
    openDesign();
    expandAndStrokeAll();
    std::size_t points = 0;
    for (auto _ : state) benchmark::DoNotOptimize(points = expandAndStrokeAll());
    state.counters["points"] = double(points);
}
BENCHMARK(BM_ExpandAndStroke)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    std::printf(
        "\n10000 mixed elements on the A0 sheet: design in memory %.1f MiB; first scan %.1f ms, "
        "first expansion and stroke %.1f ms (glyphs and ranges made)\n",
        bench.designMiB, bench.firstScanMs, bench.firstExpandMs);
    benchmark::Shutdown();
    subhost::hostReset();
    return 0;
}
