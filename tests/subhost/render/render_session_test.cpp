// The session's render line, and the line weights and styles pictures take from the settings file in use.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/scoped_env.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"

namespace fs = std::filesystem;
namespace img = subhost::imagefile;
using nlohmann::json;

namespace {

std::array<int, 3> at(const img::Image& image, int x, int y) {
    const std::uint8_t* p = image.pixels.data() + std::size_t(y) * image.stride + std::size_t(x) * 3;
    return {p[0], p[1], p[2]};
}

class RenderSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("subhost-render-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        subhost::hostReset();
        // The user's own settings file must not colour these pictures.
        userSettings.emplace("XDG_CONFIG_HOME", (dir / "config").string());
    }
    void TearDown() override {
        subhost::hostReset();
        userSettings.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void write(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    // Runs script text (after a line opening design.json); the exit code, with the transcript lines in events.
    int run(const std::string& script) {
        write(dir / "test.session", "design design.json\n" + script);
        std::ostringstream out, err;
        const int code = subhost::runSession((dir / "test.session").string(), subhost::SessionOptions{}, out, err);
        events.clear();
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) events.push_back(json::parse(line));
        return code;
    }
    std::vector<json> named(const std::string& name) const {
        std::vector<json> found;
        for (const json& e : events)
            if (e.value("event", "") == name) found.push_back(e);
        return found;
    }
    // The picture written at path, as an RGB image (fails the test when it cannot be read).
    img::Image picture(const std::string& name) {
        img::ImageResult read = img::readImage((dir / name).string());
        EXPECT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.image.mode, img::ColorMode::Rgb);
        return read.image;
    }
    fs::path dir;
    std::optional<ScopedEnv> userSettings;
    std::vector<json> events;
};

const std::array<int, 3> kGreen{0, 255, 0}, kBlue{0, 0, 255};

// A view 100 x 40 design units: a green weight-4 line across design y 20 and a blue style-2 line
// along design y 35.5 (picture row 4), both starting at the left edge.
json weightAndStyleDesign() {
    return {{"views", {{{"origin", {0, 0, 0}}, {"extent", {100, 40, 0}}}}},
            {"elements",
             {{{"id", 1}, {"type", "line"}, {"points", {{0, 20}, {100, 20}}}, {"color", 2}, {"weight", 4}},
              {{"id", 2}, {"type", "line"}, {"points", {{0, 35.5}, {100, 35.5}}}, {"color", 1}, {"style", 2}}}}};
}

// Rows of column 50 in the line's colour, and the on/off run lengths of row 4 from the left edge.
struct LineLook {
    int width = 0;
    std::vector<int> runs;  // on, off, on, off, ... (the last run may be cut by the edge)
};

LineLook look(const img::Image& image) {
    LineLook l;
    for (int y = 0; y < image.height; ++y) l.width += at(image, 50, y) == kGreen;
    bool on = true;
    int run = 0;
    for (int x = 0; x < image.width; ++x) {
        const bool blue = at(image, x, 4) == kBlue;
        if (blue != on) l.runs.push_back(run), run = 0, on = blue;
        ++run;
    }
    l.runs.push_back(run);
    return l;
}

}  // namespace

// A render line writes the picture at the asked size (or the view's proportions) and reports it; the
// picture holds the design's elements where the view puts them.
TEST_F(RenderSessionTest, RenderLineWritesThePicture) {
    write(dir / "design.json", weightAndStyleDesign().dump());
    ASSERT_EQ(run("render wide.png size 200x80\nrender fitted.png view 0\n"), 0)
        << (events.empty() ? "" : events.back().dump());
    const auto rendered = named("render");
    ASSERT_EQ(rendered.size(), 2u);
    EXPECT_EQ(rendered[0]["path"], (dir / "wide.png").string());
    EXPECT_EQ(rendered[0]["width"], 200);
    EXPECT_EQ(rendered[0]["height"], 80);
    EXPECT_EQ(rendered[1]["width"], 1024);
    EXPECT_EQ(rendered[1]["height"], 410);  // 1024 x 40 / 100, rounded
    EXPECT_EQ(rendered[0]["notes"], nlohmann::json::array());

    const img::Image wide = picture("wide.png");
    ASSERT_EQ(wide.width, 200);
    ASSERT_EQ(wide.height, 80);
    EXPECT_EQ(at(wide, 100, 40), kGreen);  // design (50, 20)
    EXPECT_EQ(at(wide, 100, 20), (std::array<int, 3>{0, 0, 0}));
    const img::Image fitted = picture("fitted.png");
    EXPECT_EQ(fitted.width, 1024);
    EXPECT_EQ(fitted.height, 410);
}

// Lines that cannot be run are session errors naming the line; a picture that cannot be drawn leaves the
// file already there as it was.
TEST_F(RenderSessionTest, BadRenderLinesAreSessionErrors) {
    write(dir / "design.json", weightAndStyleDesign().dump());
    write(dir / "old.png", "not touched");
    std::filesystem::create_directory(dir / "folder.png");
    std::vector<std::string> messages;
    for (const std::string line :
         {"render", "render old.jpg", "render old.png size 0x10", "render old.png size 20", "render old.png view 8",
          "render old.png view", "render old.png colour red", "render old.png view 1",
          "render old.png size 16384x16384", "render nowhere/old.png", "render folder.png"}) {
        EXPECT_EQ(run(line + "\n"), 2) << line;
        ASSERT_FALSE(named("error").empty()) << line;
        EXPECT_EQ(named("error").back()["line"], 2) << line;
        EXPECT_TRUE(named("render").empty()) << line;
        messages.push_back(named("error").back()["message"].get<std::string>());
    }
    // Each says why in words.
    EXPECT_NE(messages[messages.size() - 2].find(
                  "nowhere/old.png: the picture cannot be written: cannot create a temporary file in"),
              std::string::npos)
        << messages[messages.size() - 2];
    EXPECT_NE(messages.back().find("folder.png: the picture cannot be written: it is a folder"), std::string::npos)
        << messages.back();
    std::ifstream in(dir / "old.png");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not touched");
}

// Weights and styles are drawn with the pen widths and dash lengths of the settings file: the file named by
// PXMEND_SETTINGS before the user's configuration folder, and factory values without either.
TEST_F(RenderSessionTest, WeightsAndStylesComeFromTheSettingsFileInUse) {
    write(dir / "design.json", weightAndStyleDesign().dump());
    ASSERT_EQ(run("render factory.png size 100x40\n"), 0);
    LineLook l = look(picture("factory.png"));
    EXPECT_EQ(l.width, 5);  // weight 4: 5 pixels
    EXPECT_EQ(std::vector<int>(l.runs.begin(), l.runs.begin() + 6), (std::vector<int>{6, 4, 6, 4, 6, 4}));

    write(dir / "config/pixelmend/Pxmend.ini", "LineWeight4=3\nLineStyle2=2,3\n");
    write(dir / "mine.ini", "Date created=today\nLineWeight4=9\r\nLineStyle2=5,5\n");
    ASSERT_EQ(run("render user.png size 100x40\ncfg PXMEND_SETTINGS $(HERE)mine.ini\ncfg HERE " + dir.string() +
                  "/\nrender chosen.png size 100x40\n"),
              0);
    l = look(picture("user.png"));
    EXPECT_EQ(l.width, 3);
    EXPECT_EQ(std::vector<int>(l.runs.begin(), l.runs.begin() + 4), (std::vector<int>{2, 3, 2, 3}));
    l = look(picture("chosen.png"));
    EXPECT_EQ(l.width, 9);
    ASSERT_EQ(l.runs.size(), 20u);
    for (int run : l.runs) EXPECT_EQ(run, 5);
}

// A damaged or hostile settings file never breaks a picture: bad values keep the factory value, lengths and
// widths are held to sane ranges, and odd keys are skipped.
TEST_F(RenderSessionTest, HostileSettingsFallBackOrAreLimited) {
    subhost::setCfgVar("PXMEND_SETTINGS", (dir / "bad.ini").string());
    write(dir / "bad.ini",
          "LineWeight0=500\n"   // widest pen
          "LineWeight1=-3\n"    // narrowest
          "LineWeight2=wide\n"  // factory
          "LineWeight3 =7\n"    // a blank before '=' makes another key
          "#LineWeight5=9\n"    // comment
          "LineWeight32=9\n"    // no such weight
          "LineWeight=9\nLineStyle=9\nLineWeight006=9\n"
          "LineStyle0=4,4\n"
          "LineStyle1=0,99999999999999999999\n"
          "LineStyle3=7\n"     // one length: solid
          "LineStyle4=2,,2\n"  // damaged: factory
          "LineStyle5=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32,33,34\n"
          "LineStyle6=\n"  // no lengths: solid
          "LineStyle7= 3 , 1\n"
          "garbage line without equals\n");
    subhost::LineSymbology s = subhost::lineSymbologyFromSettings();
    EXPECT_EQ(s.widths[0], 100);
    EXPECT_EQ(s.widths[1], 1);
    EXPECT_EQ(s.widths[2], 3);
    EXPECT_EQ(s.widths[3], 4);
    EXPECT_EQ(s.widths[5], 6);
    EXPECT_EQ(s.widths[6], 7);
    EXPECT_EQ(s.widths[31], 32);
    EXPECT_EQ(s.dashes[0], (std::vector<double>{4, 4}));
    EXPECT_EQ(s.dashes[1], (std::vector<double>{1, 1000}));
    EXPECT_TRUE(s.dashes[3].empty());
    EXPECT_EQ(s.dashes[4], (std::vector<double>{8, 4, 1, 4}));
    ASSERT_EQ(s.dashes[5].size(), 32u);
    EXPECT_EQ(s.dashes[5].back(), 32);
    EXPECT_TRUE(s.dashes[6].empty());
    EXPECT_EQ(s.dashes[7], (std::vector<double>{3, 1}));
    EXPECT_EQ(s.dashes[2], (std::vector<double>{6, 4}));

    // Not a file, or far too large for a settings file: every value is the factory one.
    for (const auto& prepare : {std::function<void()>([&] {
                                    fs::remove(dir / "bad.ini");
                                    fs::create_directory(dir / "bad.ini");
                                }),
                                std::function<void()>([&] {
                                    fs::remove(dir / "bad.ini");
                                    std::ofstream big(dir / "bad.ini");
                                    big << "LineWeight0=50\n" << std::string(2 << 20, '#');
                                })}) {
        prepare();
        s = subhost::lineSymbologyFromSettings();
        EXPECT_EQ(s.widths[0], 1);
        EXPECT_EQ(s.dashes[1], (std::vector<double>{1, 6}));
    }
}
