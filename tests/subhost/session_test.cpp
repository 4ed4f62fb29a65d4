// Session scripts run in-process against the test application.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "frame/app.h"
#include "host/mdlresource.h"
#include "subhost/host_fixture.h"
#include "subhost/imagefile/gif_fixture.h"
#include "subhost/imagefile/imagefile.h"
#include "subhost/safefile.h"

namespace fs = std::filesystem;

class SessionTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        dir = fs::temp_directory_path() / ("subhost-session-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        HostTest::TearDown();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // Runs script text; the exit code, with the transcript lines in out.
    int run(const std::string& script, std::optional<int> answers = std::nullopt) {
        std::ofstream(dir / "test.session", std::ios::binary) << script;
        subhost::SessionOptions options;
        options.defaultAnswer = answers;
        options.linkedMain = testapp::mdlMain;
        options.linkedResources = testapp::resources;
        out.str("");
        err.str("");
        return subhost::runSession((dir / "test.session").string(), options, out, err);
    }
    // Runs script text with the PixelMend add-on itself linked in as the application.
    int runAddOn(const std::string& script) {
        std::ofstream(dir / "test.session", std::ios::binary) << script;
        subhost::SessionOptions options;
        options.linkedMain = &MdlMain;
        options.linkedResources = &MdlResources;
        out.str("");
        err.str("");
        return subhost::runSession((dir / "test.session").string(), options, out, err);
    }
    // Loads the add-on on site.json, deletes the block from (10, 10) to (20, 20) and saves; the exit code.
    int runDeleteAndSave() {
        return runAddOn("cfg PXMEND_SETTINGS " + (dir / "Pxmend.ini").string() +
                        "\n"
                        "design site.json\n"
                        "load\n"
                        "keyin PXMEND DELETE\n"
                        "point 10 10\n"
                        "point 20 20\n"
                        "point 10 10\n"
                        "save\n");
    }
    // A 40 x 30 four-colour GIF g.gif (pixels (x / 5 + y / 5) % 4) attached at the origin of
    // site.json, one design unit a pixel; its bytes.
    std::vector<std::uint8_t> attachGif(bool animation = false) {
        gif_test::HandMadeGif made;
        made.secondImage = animation;
        made.width = 40;
        made.height = 30;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) made.pixels.push_back((x / 5 + y / 5) % 4);
        const std::vector<std::uint8_t> bytes = gif_test::handMadeGif(made);
        gif_test::writeFileBytes((dir / "g.gif").string(), bytes);
        std::ofstream(dir / "site.json")
            << R"({"name": "site.dgn", "views": [{"rotation": 0, "origin": [0, 0, 0], "extent": [40, 30, 0]}],)"
               R"( "rasters": [{"file": "g.gif"}]})";
        return bytes;
    }
    std::vector<std::uint8_t> bytesOf(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<nlohmann::json> linesNamed(const std::string& event) {
        std::vector<nlohmann::json> found;
        for (const auto& e : lines())
            if (e.value("event", "") == event) found.push_back(e);
        return found;
    }
    std::vector<nlohmann::json> lines() {
        std::vector<nlohmann::json> result;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) result.push_back(nlohmann::json::parse(line));
        return result;
    }
    fs::path dir;
    std::ostringstream out, err;
};

TEST_F(SessionTest, CleanScriptRunsAndShutsDownAtTheEnd) {
    std::ofstream(dir / "site.json") << R"({"name": "site.dgn"})";
    const int code =
        run("# comment line\n"
            "design site.json   # relative to the script\n"
            "load\n"
            "keyin alpha one  first\n"
            "command 0x0300000000000000 arg\n"
            "command 216172782113783808\n"  // 0x0300... in decimal
            "set Number 12\n"
            "item 400 dTxt 1 set 3\n");
    // Dialog 400 is not open: that line fails.
    EXPECT_EQ(code, 2);
    EXPECT_EQ(lines().back()["line"], 8);
    // The design was open before the load: no new-design-file call.
    EXPECT_EQ(log(), (std::vector<std::string>{"main:2:KEYIN", "one:first", "beta:arg", "beta:"}));
    EXPECT_EQ(record().Number, 12);
}

TEST_F(SessionTest, EndOfScriptClosesTheDesignThenUnloadsWithTypeZero) {
    std::ofstream(dir / "site.json") << R"({"name": "site.dgn"})";
    testapp::state().unloadAnswer = 1;  // a refusal does not count at exit
    EXPECT_EQ(run("load\ndesign site.json\n"), 0);
    EXPECT_EQ(log(), (std::vector<std::string>{"main:2:KEYIN", "design:1:site.dgn", "design:0:site.dgn", "unload:0"}));
    EXPECT_FALSE(subhost::applicationLoaded());
    EXPECT_EQ(lines().back()["event"], "unload");
}

TEST_F(SessionTest, MalformedLineStopsBeforeAnythingRuns) {
    const char* bad[] = {"frobnicate\n",
                         "version ten\n",
                         "point 1\n",
                         "answer maybe\n",
                         "color 1 2 300\n",
                         "item 400 dTxtX 1 set 3\n",
                         "item 400 dTxt 1 poke\n",
                         "toolsettings maybe\n",
                         "command -5\n",
                         "unload x\n",
                         "dump everything\n",
                         "point 1 2 view 9\n"};
    for (const char* line : bad) {
        const int code = run(std::string("cfg SHOULD_NOT be set\n") + line);
        EXPECT_EQ(code, 2) << line;
        ASSERT_EQ(lines().size(), 1u) << line;
        EXPECT_EQ(lines()[0]["event"], "error");
        EXPECT_EQ(lines()[0]["line"], 2) << line;
        wchar_t value[8];
        EXPECT_NE(mdlSystem_getCfgVar(value, L"SHOULD_NOT", 8), 0) << line;
    }
}

TEST_F(SessionTest, HostileScriptsAreRefusedCleanly) {
    EXPECT_EQ(run(std::string("load\n\x01\x02\xff junk\0 more", 20)), 2);
    EXPECT_NE(lines()[0]["message"].get<std::string>().find("binary"), std::string::npos);
    EXPECT_EQ(run("reset\n" + std::string(5000, 'x') + "\n"), 2);
    EXPECT_EQ(lines()[0]["line"], 2);
    EXPECT_EQ(run(std::string(2u << 20, '#')), 2);
    EXPECT_FALSE(subhost::applicationLoaded());
    subhost::SessionOptions options;
    EXPECT_EQ(subhost::runSession((dir / "missing.session").string(), options, out, err), 2);
}

TEST_F(SessionTest, QuestionsTakeQueuedThenDefaultAnswersElseStopWithExitThree) {
    EXPECT_EQ(run("load\nanswer no\nkeyin ask\nkeyin ask\n"), 3);
    EXPECT_EQ(log(), (std::vector<std::string>{"main:2:KEYIN", "ask:7"}));
    const auto last = lines().back();
    EXPECT_EQ(last["event"], "error");
    EXPECT_EQ(last["line"], 4);
    EXPECT_EQ(last["text"], "Go on?");
    subhost::hostReset();
    testapp::reset();
    EXPECT_EQ(run("load\nkeyin ask\n", ACTIONBUTTON_YES), 0);
    EXPECT_EQ(log()[1], "ask:6");
    subhost::hostReset();
    EXPECT_EQ(run("load\nanswer yes yes\nkeyin ask\n"), 0);
    EXPECT_NE(err.str().find("not used"), std::string::npos);
}

TEST_F(SessionTest, DumpsAndUndoAreEvents) {
    EXPECT_EQ(run("load\nset Values2 5\ndump settings\nundo\nredo\n"), 0);
    const auto all = lines();
    auto settings = std::find_if(all.begin(), all.end(), [](const auto& e) { return e["event"] == "settings"; });
    ASSERT_NE(settings, all.end());
    EXPECT_EQ((*settings)["fields"]["Values"], nlohmann::json({0, 0, 5, 0}));
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const auto& e) { return e["event"] == "undo"; }));
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const auto& e) { return e["event"] == "redo"; }));
}

TEST_F(SessionTest, DeletedBlockOfAnAttachedGifIsSavedIntoTheGifAndReadsBackEverywhere) {
    const std::vector<std::uint8_t> original = attachGif();
    const int code = runDeleteAndSave();
    EXPECT_EQ(code, 0) << out.str() << err.str();
    for (const auto& e : linesNamed("messageCenter"))
        EXPECT_EQ(e.value("brief", "").find("Unable to write"), std::string::npos) << e.dump();
    const std::string gif = (dir / "g.gif").string();
    bool written = false;
    for (const auto& e : linesNamed("fileWritten")) written = written || e.value("path", "") == gif;
    EXPECT_TRUE(written) << out.str();
    // The first change made the backup, which holds the file as it was.
    EXPECT_EQ(bytesOf(dir / "g-backup.gif"), original);
    EXPECT_EQ(subhost::safefile::countWorkingFiles(std::filesystem::path(gif).parent_path().string()), 0);

    // Read back by the host (giflib): still a GIF with its four colours; the block
    // rows 10..19, columns 10..19 (design y up from the bottom row) holds one value
    // that is no longer the picture, and nothing outside the block changed.
    const subhost::imagefile::ImageResult read = subhost::imagefile::readImage(gif);
    ASSERT_TRUE(read.ok) << read.error;
    const subhost::imagefile::Image& image = read.image;
    EXPECT_EQ(image.format, subhost::imagefile::FileFormat::Gif);
    ASSERT_EQ(image.width, 40);
    ASSERT_EQ(image.height, 30);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(image.palette[std::size_t(i)], gif_test::handMadeColours()[std::size_t(i)]);
    auto px = [&](int x, int y) { return int(image.pixels[std::size_t(y) * image.stride + std::size_t(x)]); };
    const int fill = px(12, 12);
    int inside = 0, changedInside = 0, changedOutside = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const int was = (x / 5 + y / 5) % 4;
            if (x >= 11 && x < 19 && y >= 11 && y < 19) {
                ++inside;
                EXPECT_EQ(px(x, y), fill) << x << "," << y;
                changedInside += px(x, y) != was;
            } else if (x < 9 || x >= 21 || y < 9 || y >= 21) {
                changedOutside += px(x, y) != was;
            }
        }
    EXPECT_GT(changedInside, inside / 2);
    EXPECT_EQ(changedOutside, 0);

    // giflib alone and an outside decoder read the same picture.
    gif_test::Slurped slurped = gif_test::slurpWithGiflib(gif);
    ASSERT_TRUE(slurped);
    ASSERT_EQ(slurped->ImageCount, 1);
    int unlike = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) unlike += slurped->SavedImages[0].RasterBits[y * 40 + x] != px(x, y);
    EXPECT_EQ(unlike, 0);
    const auto outside = gif_test::decodeWithGiftopnm(gif, dir.string());
    EXPECT_EQ(outside.code, 0) << outside.said;
    EXPECT_EQ(gif_test::pixelsUnlike(outside, image), 0u);
}

TEST_F(SessionTest, CropOfAnAttachedGifStillOffersTheConversionToTiff) {
    // New GIF files are not written (-119 from the commit's format probe), so crop offers TIFF.
    const std::vector<std::uint8_t> original = attachGif();
    const int code = runAddOn("cfg PXMEND_SETTINGS " + (dir / "Pxmend.ini").string() +
                              "\n"
                              "design site.json\n"
                              "load\n"
                              "answer no\n"
                              "keyin PXMEND CROP\n"
                              "point 10 10\n"
                              "point 20 20\n"
                              "point 10 10\n"
                              "save\n");
    EXPECT_EQ(code, 0) << out.str() << err.str();
    bool offered = false;
    for (const auto& e : linesNamed("messageBox"))
        offered = offered || e.value("text", "")
                                     .find(
                                         "PixelMend does not support crop/resize operations on this type "
                                         "of raster (GIF). Would you like us to convert this raster to a "
                                         "standard TIFF") != std::string::npos;
    EXPECT_TRUE(offered) << out.str();
    EXPECT_EQ(bytesOf(dir / "g.gif"), original);
}

TEST_F(SessionTest, AnEditOfAnAnimatedGifIsNotSavedOverItsOtherImages) {
    // The host reads an animation as its first image; writing that back would lose the others.
    const std::vector<std::uint8_t> original = attachGif(true);
    const int code = runDeleteAndSave();
    EXPECT_EQ(code, 2) << out.str();
    const std::string gif = (dir / "g.gif").string();
    bool told = false;
    for (const auto& e : linesNamed("messageCenter"))
        told = told || (e.value("brief", "") == "Unable to write raster file " + gif &&
                        e.value("detail", "").find("several images") != std::string::npos);
    EXPECT_TRUE(told) << out.str();
    EXPECT_EQ(bytesOf(dir / "g.gif"), original);
    EXPECT_EQ(subhost::safefile::countWorkingFiles(std::filesystem::path(gif).parent_path().string()), 0);
}
