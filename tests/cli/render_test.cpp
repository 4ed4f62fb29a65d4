// Pictures of a design's views: where rasters and elements land, how they look,
// and what the render command refuses.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "command_runner.h"
#include "common/scoped_env.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"

namespace fs = std::filesystem;
namespace img = subhost::imagefile;
using nlohmann::json;
using Rgb = std::array<int, 3>;

namespace {

const Rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

void setBit(img::Image& image, int x, int y) {
    image.pixels[std::size_t(y) * image.stride + std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("pixelmend-render-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        subhost::hostReset();
        subhost::setTranscriptStream(nullptr);
        // Factory line weights and styles, whatever the user's own settings file says.
        userSettings.emplace("XDG_CONFIG_HOME", dir.string());
    }
    void TearDown() override {
        subhost::closeDesign();
        userSettings.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // A new image of mode, painted by paint, written as name in format; gives its path.
    std::string image(const std::string& name, int w, int h, img::ColorMode mode,
                      const std::function<void(img::Image&)>& paint, img::FileFormat format = img::FileFormat::Png) {
        img::ImageResult made = img::makeImage(w, h, mode);
        EXPECT_TRUE(made.ok) << made.error;
        paint(made.image);
        const std::string path = (dir / name).string();
        const img::WriteStatus status = img::createImageFile(path, format, made.image);
        EXPECT_EQ(status.status, 0) << status.error;
        return path;
    }
    // A w x h colour image of one colour.
    std::string plain(const std::string& name, int w, int h, Rgb c) {
        return image(name, w, h, img::ColorMode::Rgb, [&](img::Image& im) {
            for (std::size_t i = 0; i < im.pixels.size(); i += 3)
                for (int k = 0; k < 3; ++k) im.pixels[i + std::size_t(k)] = std::uint8_t(c[std::size_t(k)]);
        });
    }
    std::string design(const json& doc) {
        const std::string path = (dir / "design.json").string();
        std::ofstream(path) << doc.dump();
        return path;
    }
    // Opens doc and renders view at w x h; the picture (empty with the error on failure).
    subhost::ViewPicture render(const json& doc, int view = 0, int w = 0, int h = 0) {
        std::string error;
        EXPECT_TRUE(subhost::openDesign(design(doc), &error)) << error;
        subhost::ViewPicture picture;
        lastError.clear();
        if (!subhost::renderView(view, w, h, &picture, &lastError)) picture = {};
        return picture;
    }
    static Rgb at(const subhost::ViewPicture& p, int x, int y) {
        const std::uint8_t* px = p.rgb.data() + (std::size_t(y) * std::size_t(p.width) + std::size_t(x)) * 3;
        return {px[0], px[1], px[2]};
    }
    static int count(const subhost::ViewPicture& p, Rgb c) {
        int n = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) n += at(p, x, y) == c;
        return n;
    }
    static json view(double x, double y, double w, double h, double rotation = 0) {
        return {{"origin", {x, y, 0}}, {"extent", {w, h, 0}}, {"rotation", rotation}};
    }

    fs::path dir;
    std::string lastError;
    std::optional<ScopedEnv> userSettings;
};

}  // namespace

// One design unit a pixel, the view on the raster: the picture is the raster, top row first, in the
// rendering's colours; for a negative file the darker colour is still the foreground; later rasters lie on top.
TEST_F(RenderTest, RastersLandPixelForPixelInTheirRenderingColours) {
    const std::string scan = image("scan.png", 8, 6, img::ColorMode::Mono, [](img::Image& im) { setBit(im, 2, 1); });
    // A negative: 1 bits are white, so the one clear bit is the ink.
    const std::string negative = image(
        "negative.tif", 8, 6, img::ColorMode::Mono,
        [](img::Image& im) {
            im.photometric = img::Photometric::MinIsBlack;
            im.palette[0] = {0, 0, 0};
            im.palette[1] = {255, 255, 255};
            std::fill(im.pixels.begin(), im.pixels.end(), 0xFF);
            im.pixels[5 * im.stride] = 0x7F;  // bottom row, first pixel clear
        },
        img::FileFormat::Tiff);
    const std::string patch = plain("patch.png", 2, 2, kGreen);
    const json rendering = {{"foreground", {255, 0, 0}}, {"background", {0, 0, 255}}};
    const auto picture = render({{"views", {view(0, 0, 16, 6)}},
                                 {"rasters",
                                  {{{"file", scan}, {"rendering", rendering}},
                                   {{"file", negative}, {"origin", {8, 0, 0}}, {"rendering", rendering}},
                                   {{"file", patch}, {"origin", {6, 4, 0}}}}}},
                                0, 16, 6);
    ASSERT_EQ(picture.width, 16) << lastError;
    ASSERT_EQ(picture.height, 6);
    EXPECT_EQ(at(picture, 2, 1), kRed);
    EXPECT_EQ(at(picture, 8, 5), kRed);
    EXPECT_EQ(at(picture, 6, 0), kGreen);  // the patch covers design (6..8, 4..6): the top two rows
    EXPECT_EQ(at(picture, 7, 1), kGreen);
    EXPECT_EQ(count(picture, kRed), 2);
    EXPECT_EQ(count(picture, kGreen), 4);
    EXPECT_EQ(count(picture, kBlue), 16 * 6 - 6);
}

// A picture eight times smaller than a scan still shows its one-pixel lines, and only where they are.
TEST_F(RenderTest, ThinInkSurvivesASmallerPicture) {
    const std::string scan = image("lines.png", 64, 64, img::ColorMode::Mono, [](img::Image& im) {
        for (int i = 0; i < 64; ++i) setBit(im, 45, i), setBit(im, i, 63 - i);
    });
    const auto picture = render({{"views", {view(0, 0, 64, 64)}}, {"rasters", {{{"file", scan}}}}}, 0, 8, 8);
    ASSERT_EQ(picture.width, 8) << lastError;
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(at(picture, 5, y), kBlack) << y;  // column 45 lies in picture column 5
        EXPECT_EQ(at(picture, y, 7 - y), kBlack) << y;
    }
    EXPECT_EQ(count(picture, kBlack), 8 + 8 - 1);

    // Turned a quarter: column 45 becomes the line through design y 45..46, picture row 2.
    const auto turned = render(
        {{"views", {view(0, 0, 64, 64)}}, {"rasters", {{{"file", scan}, {"origin", {64, 0, 0}}, {"rotation", 90}}}}}, 0,
        8, 8);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(at(turned, x, 2), kBlack) << x;
    EXPECT_EQ(count(turned, kBlack), 8 + 8 - 1);
}

// A raster turned by 90 degrees seen in a view turned the same way shows upright; a view without
// an extent shows the whole design with a black margin.
TEST_F(RenderTest, TurnedRastersAndViewsAndTheFittedView) {
    const std::string file = image("strip.png", 4, 2, img::ColorMode::Rgb, [](img::Image& im) {
        // Top row red, bottom row blue, except the bottom-right pixel green.
        for (int x = 0; x < 4; ++x) {
            im.pixels[std::size_t(x) * 3] = 255;
            im.pixels[im.stride + std::size_t(x) * 3 + 2] = 255;
        }
        im.pixels[im.stride + 9] = 0, im.pixels[im.stride + 10] = 255, im.pixels[im.stride + 11] = 0;
    });
    const json raster = {{"file", file}, {"origin", {10, 10, 0}}, {"rotation", 90}};
    // The raster's rows run up from (10, 10) and its columns to the left: it covers x 8..10, y 10..14.
    // The view turned by 90 has its x axis along design y; its lower-left corner is design (10, 10).
    auto picture = render({{"views", {view(10, 10, 4, 2, 90)}}, {"rasters", {raster}}}, 0, 4, 2);
    ASSERT_EQ(picture.width, 4) << lastError;
    for (int x = 0; x < 4; ++x) EXPECT_EQ(at(picture, x, 0), kRed) << x;
    for (int x = 0; x < 3; ++x) EXPECT_EQ(at(picture, x, 1), kBlue) << x;
    EXPECT_EQ(at(picture, 3, 1), kGreen);

    // Unturned view fitted to the design: the raster stands upright (2 wide, 4 high) inside a margin.
    picture = render({{"views", {json::object()}}, {"rasters", {raster}}});
    ASSERT_EQ(picture.height, 1024) << lastError;
    EXPECT_EQ(picture.width, 532);
    EXPECT_EQ(at(picture, 266, 5), kBlack);
    EXPECT_EQ(at(picture, 266, 1018), kBlack);
    EXPECT_EQ(at(picture, 100, 512), kRed);   // the top row lies at the left
    EXPECT_EQ(at(picture, 400, 512), kBlue);  // the bottom row at the right
    EXPECT_EQ(at(picture, 400, 40), kGreen);  // the last pixel of the bottom row, at the top
}

// The clip boundary shows only its inside, masks hide theirs, and a transparent background lets the raster
// below show through.
TEST_F(RenderTest, ClipMasksBoundaryAndTransparency) {
    const std::string under = plain("under.png", 10, 10, kGreen);
    const std::string scan = image("scan.png", 10, 10, img::ColorMode::Mono, [](img::Image& im) { setBit(im, 0, 9); });
    json top = {{"file", scan},
                {"clipBoundary", {{0, 0}, {5, 0}, {5, 10}, {0, 10}}},
                {"clipMasks", {{{1, 1}, {3, 1}, {3, 3}, {1, 3}}}}};
    auto picture = render({{"views", {view(0, 0, 10, 10)}}, {"rasters", {{{"file", under}}, top}}}, 0, 10, 10);
    ASSERT_EQ(picture.width, 10) << lastError;
    EXPECT_EQ(at(picture, 0, 9), kBlack);  // the ink inside the boundary
    EXPECT_EQ(at(picture, 4, 0), kWhite);
    EXPECT_EQ(at(picture, 5, 0), kGreen);  // outside the boundary
    EXPECT_EQ(at(picture, 1, 8), kGreen);  // inside the mask: design (1..3, 1..3) is rows 7 and 8
    EXPECT_EQ(at(picture, 2, 7), kGreen);
    EXPECT_EQ(at(picture, 3, 8), kWhite);
    EXPECT_EQ(count(picture, kGreen), 50 + 4);

    // Two masks that overlap hide their overlap too.
    top.erase("clipBoundary");
    top["clipMasks"] = {{{0, 0}, {6, 0}, {6, 6}, {0, 6}}, {{4, 4}, {10, 4}, {10, 10}, {4, 10}}};
    picture = render({{"views", {view(0, 0, 10, 10)}}, {"rasters", {{{"file", under}}, top}}}, 0, 10, 10);
    EXPECT_EQ(at(picture, 5, 4), kGreen);  // design (5, 5), inside both
    EXPECT_EQ(at(picture, 8, 8), kWhite);
    EXPECT_EQ(count(picture, kGreen), 36 + 36 - 4);

    top.erase("clipMasks");
    top["rendering"] = {{"transparentBackground", true}};
    picture = render({{"views", {view(0, 0, 10, 10)}}, {"rasters", {{{"file", under}}, top}}}, 0, 10, 10);
    EXPECT_EQ(at(picture, 0, 9), kBlack);
    EXPECT_EQ(count(picture, kGreen), 99);
}

// Filled shapes show their fill colour inside their outline when the view fills; elements lie over rasters.
TEST_F(RenderTest, FilledShapesFollowTheViewsFill) {
    const std::string under = plain("under.png", 20, 20, kWhite);
    const json square = {{"id", 1},    {"type", "shape"}, {"points", {{2, 2}, {8, 2}, {8, 8}, {2, 8}}},
                         {"color", 3}, {"filled", true},  {"fillColor", 2}};
    json v = view(0, 0, 20, 20);
    auto picture = render({{"views", {v}}, {"rasters", {{{"file", under}}}}, {"elements", {square}}}, 0, 20, 20);
    ASSERT_EQ(picture.width, 20) << lastError;
    EXPECT_EQ(at(picture, 5, 15), kGreen);  // design (5, 5)
    EXPECT_EQ(at(picture, 2, 15), kRed);    // the left edge
    EXPECT_EQ(at(picture, 5, 12), kRed);    // the top edge, design y 8
    EXPECT_EQ(at(picture, 12, 5), kWhite);  // the raster beside it

    v["fill"] = false;
    picture = render({{"views", {v}}, {"rasters", {{{"file", under}}}}, {"elements", {square}}}, 0, 20, 20);
    EXPECT_EQ(at(picture, 5, 15), kWhite);
    EXPECT_EQ(at(picture, 2, 15), kRed);
    EXPECT_EQ(count(picture, kGreen), 0);
}

// A thin line leaves no gaps, a weight widens it, a style breaks it into dashes, and later elements lie on top.
TEST_F(RenderTest, LineWeightsStylesAndDrawingOrder) {
    const json elements = {
        {{"id", 1}, {"type", "line"}, {"points", {{0.5, 0.5}, {30.5, 99.5}}}, {"color", 3}},
        {{"id", 2}, {"type", "line"}, {"points", {{40, 50.5}, {99, 50.5}}}, {"color", 2}, {"weight", 4}},
        {{"id", 3}, {"type", "line"}, {"points", {{35, 90.5}, {100, 90.5}}}, {"color", 1}, {"style", 2}},
        {{"id", 4}, {"type", "line"}, {"points", {{70.5, 0}, {70.5, 100}}}, {"color", 4}},
    };
    const auto picture = render({{"views", {view(0, 0, 100, 100)}}, {"elements", elements}}, 0, 100, 100);
    ASSERT_EQ(picture.width, 100) << lastError;
    for (int y = 0; y < 100; ++y) {
        int red = 0;
        for (int x = 0; x < 40; ++x) red += at(picture, x, y) == kRed;
        EXPECT_GE(red, 1) << "row " << y;
    }
    int across = 0;  // the weight-4 line, 5 pixels wide
    for (int y = 0; y < 100; ++y) across += at(picture, 60, y) == kGreen;
    EXPECT_EQ(across, 5);
    int on = 0, runs = 0;  // the dashed line on row 9
    for (int x = 0; x < 100; ++x) {
        const bool blue = at(picture, x, 9) == kBlue;
        on += blue;
        runs += blue && (x == 0 || at(picture, x - 1, 9) != kBlue);
    }
    EXPECT_GE(runs, 5);
    EXPECT_GT(on, 35);
    EXPECT_LT(on, 60);
    EXPECT_EQ(at(picture, 70, 49), (Rgb{255, 255, 0}));  // yellow over the green line
}

// Geometry far beyond the picture is cut before it is drawn: lines crossing it keep their dash pattern where
// the whole line has it, and a shape around the whole picture fills all of it.
TEST_F(RenderTest, FarOffGeometryIsCutNotLost) {
    const json elements = {
        {{"id", 1},
         {"type", "shape"},
         {"points", {{-1e12, -1e12}, {1e12, -1e12}, {1e12, 1e12}, {-1e12, 1e12}}},
         {"color", 3},
         {"filled", true},
         {"fillColor", 2}},
        // 1e9 units from its start to the picture's left edge: a whole number of 6-on, 4-off periods.
        {{"id", 2}, {"type", "line"}, {"points", {{-1e9, 50.5}, {1e15, 50.5}}}, {"color", 1}, {"style", 2}},
        {{"id", 3}, {"type", "line"}, {"points", {{20.5, -1e12}, {20.5, 1e12}}}, {"color", 4}},
    };
    const auto picture = render({{"views", {view(0, 0, 100, 100)}}, {"elements", elements}}, 0, 100, 100);
    ASSERT_EQ(picture.width, 100) << lastError;
    EXPECT_EQ(at(picture, 0, 0), kGreen);
    EXPECT_EQ(at(picture, 99, 99), kGreen);
    for (int y = 0; y < 100; ++y) EXPECT_EQ(at(picture, 20, y), (Rgb{255, 255, 0})) << y;
    for (int x = 0; x < 100; ++x) {
        if (x != 20) {
            EXPECT_EQ(at(picture, x, 49) == kBlue, x % 10 < 6) << x;
        }
    }
}

// A picture of other proportions than its view shows more around the same centre at one scale.
TEST_F(RenderTest, PictureSizeKeepsTheViewsProportions) {
    const std::string file = plain("wide.png", 10, 5, kRed);
    const json doc = {{"views", {view(0, 0, 10, 5)}}, {"rasters", {{{"file", file}}}}};
    const auto picture = render(doc, 0, 100, 100);
    ASSERT_EQ(picture.width, 100) << lastError;
    EXPECT_EQ(count(picture, kRed), 100 * 50);
    EXPECT_EQ(at(picture, 50, 24), kBlack);
    EXPECT_EQ(at(picture, 50, 25), kRed);
    EXPECT_EQ(at(picture, 50, 74), kRed);
    EXPECT_EQ(at(picture, 50, 75), kBlack);
}

// Views that do not exist, sizes out of range and views with nothing to show are refused;
// a raster whose pixels turn out damaged is left out with a note naming it.
TEST_F(RenderTest, RefusalsAndDamagedRasters) {
    subhost::ViewPicture picture;
    std::string error;
    const std::string file = plain("photo.png", 64, 64, kRed);
    const std::string path = design({{"views", {view(0, 0, 64, 64)}}, {"rasters", {{{"file", file}}}}});
    ASSERT_TRUE(subhost::openDesign(path, &error)) << error;
    EXPECT_FALSE(subhost::renderView(1, 0, 0, &picture, &error));
    EXPECT_NE(error.find("no view 1"), std::string::npos) << error;
    for (auto [w, h] : {std::pair{0, 10}, {10000, 10000}}) {
        EXPECT_FALSE(subhost::renderView(0, w, h, &picture, &error)) << w << "x" << h;
        EXPECT_NE(error.find("size"), std::string::npos) << error;
    }
    // The header was read when the raster was attached; its pixel data is cut off afterwards.
    fs::resize_file(file, fs::file_size(file) / 2);
    ASSERT_TRUE(subhost::renderView(0, 8, 8, &picture, &error)) << error;
    ASSERT_EQ(picture.notes.size(), 1u);
    EXPECT_NE(picture.notes[0].find(file), std::string::npos) << picture.notes[0];
    EXPECT_EQ(count(picture, kBlack), 64);

    ASSERT_TRUE(subhost::openDesign(design({{"views", {json::object()}}}), &error)) << error;
    EXPECT_FALSE(subhost::renderView(0, 0, 0, &picture, &error));
    EXPECT_NE(error.find("nothing"), std::string::npos) << error;
    ASSERT_TRUE(subhost::openDesign(design({{"views", {view(0, 0, 0, 5)}}}), &error)) << error;
    EXPECT_FALSE(subhost::renderView(0, 0, 0, &picture, &error));
    EXPECT_NE(error.find("extent"), std::string::npos) << error;
}

// Runs the pixelmend command with args; its exit code and stdout and stderr together.
static CommandOutput pixelmend(const std::string& args) {
    return runCommandLine(std::string(PXMEND_BIN_DIR "/pixelmend ") + args + " 2>&1");
}

// The command writes a PNG of the asked size, names rasters it cannot show, and on any failure leaves an
// existing picture as it was.
TEST_F(RenderTest, CommandWritesThePictureOrLeavesItAlone) {
    const std::string file = plain("photo.png", 40, 20, kBlue);
    const std::string path =
        design({{"views", {view(0, 0, 40, 20)}}, {"rasters", {{{"file", file}}, {{"file", "missing.tif"}}}}});
    const std::string out = (dir / "view.png").string();
    CommandOutput r = pixelmend("render " + path + " --size 80x40 -o " + out);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("missing.tif not shown"), std::string::npos) << r.out;
    const img::ImageResult written = img::readImage(out);
    ASSERT_TRUE(written.ok) << written.error;
    EXPECT_EQ(written.image.width, 80);
    EXPECT_EQ(written.image.height, 40);
    EXPECT_EQ(written.image.pixels[2], 255);

    const auto before = fs::file_size(out);
    for (const std::string& args : {std::string("render " + path + " --size 80 -o " + out),
                                    "render " + path + " -o out.jpg", "render -o " + out}) {
        r = pixelmend(args);
        EXPECT_EQ(r.code, 2) << args << "\n" << r.out;
    }
    r = pixelmend("render " + (dir / "nothere.json").string() + " -o " + out);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("nothere.json: file not found"), std::string::npos) << r.out;
    r = pixelmend("render " + path + " --view 3 -o " + out);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("no view 3"), std::string::npos) << r.out;
    EXPECT_EQ(fs::file_size(out), before);
}
