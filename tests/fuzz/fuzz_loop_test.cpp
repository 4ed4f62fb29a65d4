// The bounded hostile-input loop: every seed of tests/fuzz/seeds/<kind>/ and a fixed
// sequence of mutations of them go through that kind's fuzz target. A case fails when it
// crashes (the sanitizer build catches memory faults), throws out of the target (as it does
// when the JSON library's own words reach the user), or runs for more than a few seconds;
// the bytes of a failed case are kept for replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "fuzz/fuzz_targets.h"
#include "fuzz/mutator.h"

namespace fs = std::filesystem;

#ifndef PXMEND_SANITIZED
#define PXMEND_SANITIZED 0
#endif

namespace {

struct Kind {
    const char* name;
    int (*fuzzOne)(const std::uint8_t*, std::size_t);
    int cases;                       // mutated cases in the plain build
    std::size_t maxSize;             // largest case
    std::vector<std::string> words;  // words of the input's language (text kinds)
};

// Cases per kind: the kind's own count (half of it under the sanitizers, which run
// several times slower), or PXMEND_FUZZ_CASES when set, for a longer campaign by hand.
int caseCount(const Kind& kind) {
    if (const char* env = std::getenv("PXMEND_FUZZ_CASES")) return std::max(0, std::atoi(env));
    return PXMEND_SANITIZED ? kind.cases / 2 : kind.cases;
}

std::vector<fuzzloop::Bytes> seedsOf(const std::string& kind) {
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator(fs::path(PXMEND_SOURCE_DIR) / "tests" / "fuzz" / "seeds" / kind))
        if (entry.is_regular_file()) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());  // directory order differs between machines
    std::vector<fuzzloop::Bytes> seeds;
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

// Runs one case; an empty text when it passed, else what went wrong (its bytes are then
// written beside the build's temporary files for replay).
std::string runCase(const Kind& kind, const fuzzloop::Bytes& data, int number) {
    constexpr double kMaxSeconds = PXMEND_SANITIZED ? 15.0 : 5.0;
    std::string fault;
    const auto start = std::chrono::steady_clock::now();
    try {
        kind.fuzzOne(data.data(), data.size());
    } catch (const std::exception& e) {
        fault = std::string("threw: ") + e.what();
    } catch (...) {
        fault = "threw a non-standard exception";
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (fault.empty() && seconds > kMaxSeconds) fault = "took " + std::to_string(seconds) + " s";
    if (fault.empty()) return fault;
    const fs::path kept =
        fs::temp_directory_path() / ("pxmend-fuzz-" + std::string(kind.name) + "-" + std::to_string(number) + ".bin");
    std::ofstream(kept, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return "case " + std::to_string(number) + " (" + kept.string() + "): " + fault;
}

void runKind(const Kind& kind) {
    const std::vector<fuzzloop::Bytes> seeds = seedsOf(kind.name);
    ASSERT_FALSE(seeds.empty()) << "no seeds for " << kind.name;
    int number = 0, failed = 0;
    for (const auto& seed : seeds) {
        const std::string fault = runCase(kind, seed, number++);
        if (!fault.empty() && ++failed <= 10) ADD_FAILURE() << kind.name << " seed " << fault;
    }
    // PXMEND_FUZZ_SEED starts another sequence, for a campaign by hand; the loop's own is fixed.
    const char* seedText = std::getenv("PXMEND_FUZZ_SEED");
    const std::uint32_t seed = seedText ? static_cast<std::uint32_t>(std::strtoul(seedText, nullptr, 10)) : 20261206u;
    fuzzloop::Mutator mutator(seeds, kind.words, kind.maxSize, seed);
    const int cases = caseCount(kind);
    for (int i = 0; i < cases; ++i) {
        const std::string fault = runCase(kind, mutator.next(), number++);
        if (!fault.empty() && ++failed <= 10) ADD_FAILURE() << kind.name << " " << fault;
    }
    std::printf("[ fuzz     ] %s: %d seeds, %d mutated cases (sequence %u), %d failed\n", kind.name,
                static_cast<int>(seeds.size()), cases, static_cast<unsigned>(seed), failed);
}

}  // namespace

TEST(FuzzLoop, RasterFilesThroughTheCodecs) { runKind({"raster", &pxfuzz::raster::fuzzOne, 600, 64 << 10, {}}); }

TEST(FuzzLoop, SessionScripts) {
    runKind({"script",
             &pxfuzz::script::fuzzOne,
             240,
             8 << 10,
             {"\n",
              " ",
              "design site.json\n",
              "load\n",
              "unload\n",
              "keyin PXMEND DELETE\n",
              "keyin PXMEND CROP\n",
              "keyin PXMEND COPY\n",
              "keyin PXMEND MOVE\n",
              "keyin PXMEND RESIZE\n",
              "keyin PXMEND SETTINGS SAVE\n",
              "point 10 10\n",
              "point 40 30\n",
              "point 1e308 -1e308\n",
              "reset\n",
              "undo\n",
              "redo\n",
              "save\n",
              "answer yes\n",
              "answer no\n",
              "fence 1 1 50 1 50 40\n",
              "render out.png size 16x16\n",
              "set ModifyMode 1\n",
              "cfg PXMEND_SETTINGS s.ini\n",
              "dump rasters\n",
              "\xEF\xBB\xBF",
              "\r\n",
              "view 7",
              "-0",
              "nan",
              "0x"}});
}

TEST(FuzzLoop, DesignFiles) {
    runKind({"design",
             &pxfuzz::design::fuzzOne,
             500,
             16 << 10,
             {"null",
              "true",
              "\"\"",
              "[]",
              "{}",
              "-1",
              "1e400",
              "0.5",
              "\"scan.tif\"",
              "\"photo.png\"",
              "\"file\"",
              "\"rasters\"",
              "\"views\"",
              "\"elements\"",
              "\"extent\"",
              "\"origin\"",
              "\"rendering\"",
              "\"clipMasks\"",
              "\"readOnly\"",
              "\"transparentBackground\"",
              "\"colorTable\"",
              "\"fence\"",
              "\"selection\"",
              "\"type\"",
              "\"points\"",
              "\"color\"",
              "\"ellipse\"",
              "\"shape\"",
              "\"text\"",
              "[[0,0],[1,1],[2,0]]",
              "\"\\u0000\"",
              "[0,0,0]"}});
}
