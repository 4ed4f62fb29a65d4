// Accuracy of the deskew library's detection on real scans: each text page of tests/data/scans is
// measured by a projection profile of its own, straightened and turned by known angles in one
// nearest-neighbour sampling, and handed to DESKEW_Detect as the add-on hands it (maxAngle 10,
// precision 0.1). Prints the error per page and angle (detected minus turned), the worst error, and
// per page its own skew, how much its halves differ (a bent page has no one skew) and what the library
// finds on the page as scanned.
// Usage: bench_deskew_accuracy [PAGE.tif ...]   (default: every text page)
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sublibs/recodelibs.h"
#include "tests/sublibs/scan_pages.h"

namespace fs = std::filesystem;

namespace {

constexpr double kAngles[] = {-10, -7.3, -5, -2.5, -1, -0.4, 0, 0.3, 0.8, 1.7, 3.2, 6.1, 9.5, 10};
constexpr double kMaxAngle = 10.0;
constexpr double kPrecision = 0.1;
constexpr double kAllowed = 0.1;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "bench_deskew_accuracy: %s\n", message.c_str());
    std::exit(1);
}

// The library loaded as the add-on loads it, with an open session.
struct Detector {
    recode::DeskewDetect detect = nullptr;
    std::int64_t session = 0;

    Detector() {
        ::setenv("PIXELMEND_LIBRARY_PATH", fs::read_symlink("/proc/self/exe").parent_path().c_str(), 1);
        HMODULE module = LoadLibraryA("RECODESKEW.DLL");
        if (!module) fail("RECODESKEW.DLL cannot be loaded");
        auto init = reinterpret_cast<recode::DeskewInit>(GetProcAddress(module, "DESKEW_Init"));
        detect = reinterpret_cast<recode::DeskewDetect>(GetProcAddress(module, "DESKEW_Detect"));
        if (!init || !detect) fail("RECODESKEW.DLL lacks DESKEW_Init or DESKEW_Detect");
        session = init("PixelMend", "");
    }
    double operator()(const scanpages::Page& page, double precision = kPrecision) const {
        const scanpages::PageDib dib(page);
        return detect(session, dib.handle(), kMaxAngle, precision, -1, 0);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> pages(argv + 1, argv + argc);
    if (pages.empty()) pages = scanpages::textPages();
    const Detector detector;
    const auto started = std::chrono::steady_clock::now();

    std::printf("Detection error in degrees (detected - turned), maxAngle %.0f, precision %.1f\n", kMaxAngle,
                kPrecision);
    std::printf("%-18s %6s %6s %6s", "page", "own", "bend", "found");
    for (const double a : kAngles) std::printf(" %6.1f", a);
    std::printf("\n");
    double worst = 0;
    std::string worstAt;
    int cells = 0, misses = 0;
    for (const std::string& name : pages) {
        scanpages::Page page;
        std::string why;
        if (!scanpages::readScan(std::string(PXMEND_SOURCE_DIR "/tests/data/scans/") + name, &page, &why)) fail(why);
        const double own = scanpages::profileSkew(page);
        const double bend =
            scanpages::profileSkew(page, 5.0, page.width / 2) - scanpages::profileSkew(page, 5.0, 0, page.width / 2);
        std::printf("%-18s %6.2f %6.2f %6.2f", name.c_str(), own, bend, detector(page) + 0.0);
        for (const double a : kAngles) {
            // Straightened (turned back by its own skew) and turned by a, in one sampling.
            double error = detector(scanpages::turned(page, a - own)) - a;
            if (std::fabs(error) < 1e-9) error = 0;  // no -0.00 in the table
            std::printf(" %+6.2f", error);
            ++cells;
            misses += std::fabs(error) > kAllowed + 1e-9;
            if (std::fabs(error) > std::fabs(worst)) worst = error, worstAt = name + " at " + std::to_string(a);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("worst error %+.2f degrees (%s); %d of %d cells beyond %.1f; %.1f s, peak %ld MiB\n", worst,
                worstAt.empty() ? "-" : worstAt.c_str(), misses, cells, kAllowed, seconds, usage.ru_maxrss / 1024);
    std::printf(
        "own: the page's skew by projection profile; bend: the right half's skew minus the left's;\n"
        "found: the library on the page as scanned\n");
    return misses == 0 ? 0 : 2;
}
