// The pixelmend command as a user runs it: exit codes and transcripts.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "command_runner.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = PXMEND_BIN_DIR "/pixelmend";
const std::string kApp = PXMEND_BIN_DIR "/pxmend.so";

struct Result {
    int code = -1;
    std::string out;
    std::vector<nlohmann::json> events;  // stdout lines that are JSON objects
};

Result runPixelmend(const std::string& args) {
    const CommandOutput output = runCommandLine(kBin + " " + args + " 2>/dev/null");
    Result r;
    r.code = output.code;
    r.out = output.out;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] == '{') r.events.push_back(nlohmann::json::parse(line));
    return r;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("pixelmend-cli-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
    static bool haveApp() { return fs::exists(kApp); }
    fs::path dir;
};

}  // namespace

TEST_F(CliTest, HelpAndUsageErrors) {
    const Result help = runPixelmend("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("session SCRIPT [--answers yes|no]"), std::string::npos);
    EXPECT_NE(help.out.find("demo OUTDIR [--verbose]"), std::string::npos);
    EXPECT_EQ(runPixelmend("session").code, 2);
    EXPECT_EQ(runPixelmend("session x --answers maybe").code, 2);
    EXPECT_EQ(runPixelmend("frobnicate").code, 2);
    EXPECT_EQ(runPixelmend("demo " + (dir / "d").string() + " --loud").code, 2);
}

TEST_F(CliTest, MalformedLineGivesItsNumberAndExitTwo) {
    const std::string script = write("bad.session", "# a comment\ncfg A 1\n\nversion 10.17\npoint one two\n");
    const Result r = runPixelmend("session " + script);
    EXPECT_EQ(r.code, 2);
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0]["event"], "error");
    EXPECT_EQ(r.events[0]["line"], 5);
    EXPECT_EQ(r.out.rfind("{\"event\":\"error\"", 0), 0u) << "the event name comes first";
}

TEST_F(CliTest, UnreadableDesignIsRefusedNamingTheFile) {
    write("broken.json", "{\"name\": \"x.dgn\", \"views\": 3}");
    const std::string script = write("design.session", "design broken.json\n");
    const Result r = runPixelmend("session " + script);
    EXPECT_EQ(r.code, 2);
    ASSERT_EQ(r.events.size(), 1u);
    const std::string message = r.events[0]["message"];
    EXPECT_NE(message.find((dir / "broken.json").string()), std::string::npos);
    EXPECT_NE(message.find("views"), std::string::npos);
}

TEST_F(CliTest, AddOnLoadsUnloadsAndLoadsAgain) {
    if (!haveApp()) GTEST_SKIP() << "the add-on is not built";
    const std::string settings = (dir / "Pxmend.ini").string();
    const std::string script =
        write("reload.session",
              "cfg PXMEND_SETTINGS " + settings + "\nload\nunload 0\nload\nkeyin dialog toolbox 113 rastmgr\n");
    const Result r = runPixelmend("session " + script + " --answers no --app " + kApp);
    EXPECT_EQ(r.code, 0) << r.out;
    std::vector<std::string> names;
    for (const auto& e : r.events)
        if (e["event"] == "load" || e["event"] == "unload" || e["event"] == "keyin") names.push_back(e["event"]);
    EXPECT_EQ(names, (std::vector<std::string>{"load", "unload", "load", "keyin", "unload"}));
    EXPECT_EQ(r.events.back()["event"], "unload");
    EXPECT_EQ(r.events.back()["type"], 0);
    EXPECT_TRUE(fs::exists(settings));
}

TEST_F(CliTest, UnloadedModuleIsReallyClosed) {
    if (!haveApp()) GTEST_SKIP() << "the add-on is not built";
    subhost::hostReset();
    subhost::setCfgVar("PXMEND_SETTINGS", (dir / "Pxmend.ini").string());
    subhost::setDefaultAnswer(7);
    std::string error;
    ASSERT_TRUE(subhost::loadApplication(kApp, "KEYIN", &error)) << error;
    void* loaded = dlopen(kApp.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(loaded, nullptr);
    dlclose(loaded);  // give back the reference the check took
    EXPECT_EQ(subhost::unloadApplication(0), 0);
    void* still = dlopen(kApp.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(still, nullptr) << "the module stays in memory after unload";
    if (still) dlclose(still);  // the check took a reference of its own
    subhost::hostReset();
}

TEST_F(CliTest, DemoWritesItsFilesAndRuns) {
    if (!haveApp()) GTEST_SKIP() << "the add-on is not built";
    const Result r = runPixelmend("demo " + (dir / "demo").string());
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(fs::exists(dir / "demo" / "demo.session"));
    EXPECT_TRUE(fs::exists(dir / "demo" / "transcript.jsonl"));
    EXPECT_TRUE(fs::exists(dir / "demo" / "Pxmend.ini"));
    EXPECT_NE(r.out.find("transcript"), std::string::npos);
    // The pictures of the design before and after: the deleted title block went from ink to paper.
    EXPECT_NE(r.out.find("after.png"), std::string::npos);
    const auto before = subhost::imagefile::readImage((dir / "demo" / "before.png").string());
    const auto after = subhost::imagefile::readImage((dir / "demo" / "after.png").string());
    ASSERT_TRUE(before.ok && after.ok) << before.error << after.error;
    ASSERT_EQ(before.image.width, 1200);
    ASSERT_EQ(after.image.height, 600);
    const std::size_t titleBlock = 550 * before.image.stride + 660 * 3;  // design point (1320, 100)
    EXPECT_EQ(before.image.pixels[titleBlock], 0);
    EXPECT_EQ(after.image.pixels[titleBlock], 255);
    // The element kinds drawn as the host expands them: the title block's text as filled yellow glyphs,
    // the hatch lines (magenta) inside their shape.
    const auto pixelsOf = [&](const auto& picture, const std::array<int, 3>& rgb, int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const std::uint8_t* p =
                    &picture.image.pixels[std::size_t(y) * picture.image.stride + std::size_t(x) * 3];
                n += p[0] == rgb[0] && p[1] == rgb[1] && p[2] == rgb[2];
            }
        return n;
    };
    EXPECT_GT(pixelsOf(before, {255, 255, 0}, 560, 528, 700, 548), 150) << "DEMO SITE in filled glyphs";
    EXPECT_GT(pixelsOf(before, {255, 0, 255}, 1102, 282, 1188, 358), 300) << "the hatch lines";
    // The title block and the dimension were stamped: gone from the design, burnt into the scan in black.
    EXPECT_EQ(pixelsOf(after, {255, 255, 0}, 560, 528, 700, 548), 0);
    EXPECT_GT(pixelsOf(after, {0, 0, 0}, 560, 528, 700, 548), 150) << "DEMO SITE burnt into the scan";
    EXPECT_EQ(pixelsOf(before, {0, 255, 255}, 100, 90, 700, 110) > 100, true) << "the dimension (cyan) over the scan";
    EXPECT_EQ(pixelsOf(after, {0, 255, 255}, 100, 90, 700, 110), 0);

    // A short account of the session instead of the transcript: each command once, the questions
    // with their answers, the files written (named within OUTDIR).
    EXPECT_TRUE(r.events.empty()) << "the transcript is printed without --verbose";
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    const auto count = [&](const std::string& text) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_EQ(count("command: Delete Raster Block"), 1) << r.out;
    EXPECT_EQ(count("command: Move Raster Block"), 1) << "a tool naming its command at each step is one command";
    EXPECT_EQ(count("command: Crop Raster"), 1);
    EXPECT_EQ(count("command: Copy Raster Block"), 2) << "copied once, then started again for its tool settings";
    EXPECT_EQ(count("question: \"Your PixelMend settings have changed. Settings file name: " +
                    (dir / "demo" / "Pxmend.ini").string() + "\" -> answer: ok"),
              1);
    EXPECT_EQ(count("  wrote photo-cropped.png"), 1) << "one write told once";
    EXPECT_EQ(count("  wrote scan.tif"), 1);
    EXPECT_EQ(count("design demo-site.dgn saved to demo-design.json"), 1);
    EXPECT_EQ(count("undo (1 step)"), 1);
    EXPECT_LT(lines.size(), 70u);

    // The cropped picture (400 x 280 pixels from photo.png's column 100, row 60) took a white margin of 20
    // pixels on every side in place, and its attachment grew outward: the old pixels did not move.
    const auto resized = subhost::imagefile::readImage((dir / "demo" / "photo-cropped.png").string());
    ASSERT_TRUE(resized.ok) << resized.error;
    ASSERT_EQ(resized.image.width, 440);
    ASSERT_EQ(resized.image.height, 320);
    const auto rgbAt = [&](int x, int row) {
        const std::uint8_t* p = &resized.image.pixels[std::size_t(row) * resized.image.stride + std::size_t(x) * 3];
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    for (const auto& [x, row] : {std::pair{0, 0}, {439, 319}, {19, 160}, {420, 160}, {220, 19}, {220, 300}})
        EXPECT_EQ(rgbAt(x, row), (std::array<int, 3>{255, 255, 255})) << x << "," << row;
    EXPECT_EQ(rgbAt(20, 20), (std::array<int, 3>{100 * 255 / 599, 60 * 255 / 399, 200}));
    EXPECT_EQ(rgbAt(419, 299), (std::array<int, 3>{499 * 255 / 599, 339 * 255 / 399, 200}));
    std::ifstream savedDesign(dir / "demo" / "demo-design.json");
    const nlohmann::json saved = nlohmann::json::parse(savedDesign, nullptr, false);
    ASSERT_TRUE(saved.is_object());
    ASSERT_EQ(saved["rasters"].size(), 2u) << "the scratch area was detached before the save";
    EXPECT_EQ(saved["rasters"][1]["file"], "photo-cropped.png");
    EXPECT_EQ(saved["rasters"][1]["origin"], nlohmann::json::array({1780.0, 40.0, 0.0}));
    EXPECT_EQ(saved["rasters"][1]["extent"], nlohmann::json::array({440.0, 320.0}));
    EXPECT_EQ(count("command: Resize Raster Canvas"), 1);
    EXPECT_NE(r.out.find("resized with a white margin of 20 pixels"), std::string::npos);
    EXPECT_EQ(count("  wrote photo-cropped-resized.png (since renamed or removed)"), 1)
        << "the passing name of the resize in place is not listed as a file that is there";
    // The scratch area: attached and detached, its file of the scan's size, all paper, beside the design.
    const fs::path scratchFile = dir / "demo" / "demo-site_pxmend_scratch.tif";
    const auto scratch = subhost::imagefile::readImage(scratchFile.string());
    ASSERT_TRUE(scratch.ok) << scratch.error;
    EXPECT_EQ(scratch.image.width, 1600);
    EXPECT_EQ(scratch.image.height, 1100);
    EXPECT_EQ(scratch.image.mode, subhost::imagefile::ColorMode::Mono);
    const std::uint8_t paper = scratch.image.palette[0][0] > 128 ? 0x00 : 0xFF;  // the byte of 8 light pixels
    EXPECT_EQ(std::count(scratch.image.pixels.begin(), scratch.image.pixels.end(), paper),
              std::ptrdiff_t(scratch.image.pixels.size()));
    EXPECT_EQ(count("command: Attach Scratch Area"), 1);
    EXPECT_EQ(count("raster attachments: scan.tif, photo-cropped.png, demo-site_pxmend_scratch.tif"), 1);
    EXPECT_EQ(count("raster demo-site_pxmend_scratch.tif detached"), 1);
    EXPECT_EQ(count("scratch area   : " + scratchFile.string() + " (attached, then detached; the file stays)"), 1);

    // --verbose prints the transcript, the very lines of its file, before the account.
    const Result verbose = runPixelmend("demo " + (dir / "loud").string() + " --verbose");
    EXPECT_EQ(verbose.code, 0);
    std::ifstream transcript(dir / "loud" / "transcript.jsonl");
    std::size_t transcriptLines = 0;
    for (std::string line; std::getline(transcript, line);) ++transcriptLines;
    EXPECT_GT(transcriptLines, 20u);
    EXPECT_EQ(verbose.events.size(), transcriptLines);
    ASSERT_FALSE(verbose.events.empty());
    EXPECT_EQ(verbose.events.front()["event"], "design");
    EXPECT_NE(verbose.out.find("command: Delete Raster Block"), std::string::npos);
}

TEST_F(CliTest, HostOnlySessionGivesExactlyThisTranscript) {
    write(
        "site.json",
        R"({"name": "site.dgn", "readOnly": true, "views": [{"rotation": 0, "origin": [0, 0, 0], "extent": [10, 10, 0], "fill": true}]})");
    const std::string script = write("host.session",
                                     "design site.json\n"
                                     "keyin dialog toolbox 113 rastmgr\n"
                                     "keyin pxmend copy\n"
                                     "undo\n"
                                     "dump menus\n");
    const Result r = runPixelmend("session " + script);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "{\"event\":\"design\",\"action\":\"opened\",\"name\":\"site.dgn\",\"path\":\"\",\"readOnly\":true,"
              "\"views\":1}\n"
              "{\"event\":\"keyin\",\"id\":0,\"keyin\":\"dialog toolbox 113 "
              "rastmgr\",\"list\":0,\"missing\":false,\"text\":\"\"}\n"
              "{\"event\":\"keyinUnknown\",\"keyin\":\"pxmend copy\"}\n"
              "{\"event\":\"undo\",\"count\":1,\"groups\":0}\n"
              "{\"event\":\"menus\",\"menus\":[]}\n"
              "{\"event\":\"design\",\"action\":\"closed\",\"name\":\"site.dgn\",\"path\":\"\",\"readOnly\":false,"
              "\"views\":0}\n");
}
