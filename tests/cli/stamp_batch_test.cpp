// pixelmend stamp on a design: the elements burnt into each attachment, the design saved without them
// (or with them, --keep-elements), the question answered or stopping the run, one line per raster.
#include <fstream>

#include <nlohmann/json.hpp>

#include "raster_files_fixture.h"

namespace {

class StampBatchTest : public RasterFilesTest {
protected:
    // A white 100 x 50 grey raster named name.
    void whiteFile(const std::string& name) {
        auto made = subhost::imagefile::makeImage(100, 50, subhost::imagefile::ColorMode::Grey8);
        std::fill(made.image.pixels.begin(), made.image.pixels.end(), std::uint8_t(255));
        ASSERT_EQ(
            subhost::imagefile::createImageFile((dir / name).string(), subhost::imagefile::FileFormat::Tiff, made.image)
                .status,
            0);
    }

    // The design: a.tif at the origin, b.tif at x 200, a black line over a.tif (id 1) and one far away (id 2).
    void writeDesign() {
        whiteFile("a.tif");
        whiteFile("b.tif");
        const nlohmann::json design = {
            {"views", {{{"origin", {0, 0, 0}}, {"extent", {400, 400, 0}}}}},
            {"rasters", {{{"file", "a.tif"}}, {{"file", "b.tif"}, {"origin", {200, 0, 0}}}}},
            {"colorTable", {{0, 0, 0}}},
            {"elements",
             {{{"id", 1}, {"type", "line"}, {"points", {{10, 25.5}, {90, 25.5}}}, {"color", 0}},
              {{"id", 2}, {"type", "line"}, {"points", {{10, 300}, {90, 300}}}, {"color", 0}}}}};
        std::ofstream(dir / "site.json") << design.dump();
    }

    static int at(const subhost::imagefile::Image& image, int x, int row) {
        return image.pixels[std::size_t(row) * image.stride + std::size_t(x)];
    }

    nlohmann::json savedDesign() {
        std::ifstream in(dir / "site.json");
        return nlohmann::json::parse(in);
    }
};

TEST_F(StampBatchTest, StampsEachRasterAndSavesTheDesignWithoutTheStampedElements) {
    writeDesign();
    const Run r = pixelmend("stamp site.json --yes --set Backup=0");
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(r.says("a.tif: done")) << r.out;
    EXPECT_TRUE(r.says("b.tif: unchanged (There are no elements overlapping this raster file to stamp.)")) << r.out;
    const auto a = image("a.tif");
    EXPECT_EQ(at(a, 50, 24), 0);
    EXPECT_EQ(at(a, 50, 20), 255);
    const nlohmann::json saved = savedDesign();
    ASSERT_EQ(saved["elements"].size(), 1u) << saved.dump();
    EXPECT_EQ(saved["elements"][0]["id"], 2);
}

TEST_F(StampBatchTest, KeepElementsAndNoAnswerAndUsage) {
    writeDesign();
    const std::string before = bytes("a.tif");
    const Run unanswered = pixelmend("stamp site.json --raster a.tif");
    EXPECT_EQ(unanswered.code, 1) << unanswered.out;
    EXPECT_TRUE(unanswered.says("\"Stamp 1 overlapping element to raster file?\"")) << unanswered.out;
    EXPECT_EQ(bytes("a.tif"), before);
    const Run no = pixelmend("stamp site.json --raster a.tif --no");
    EXPECT_EQ(no.code, 0) << no.out;
    EXPECT_TRUE(no.says("unchanged (answered no")) << no.out;
    EXPECT_EQ(bytes("a.tif"), before);
    const Run kept = pixelmend("stamp site.json --raster a.tif --yes --keep-elements --set Backup=0");
    ASSERT_EQ(kept.code, 0) << kept.out;
    EXPECT_EQ(at(image("a.tif"), 50, 24), 0);
    EXPECT_EQ(savedDesign()["elements"].size(), 2u);
    EXPECT_EQ(pixelmend("stamp site.json --mode sideways").code, 2);
    EXPECT_EQ(pixelmend("stamp site.json --raster nothere.tif --yes").code, 2);
    EXPECT_EQ(pixelmend("stamp missing.json").code, 2);
}

}  // namespace
