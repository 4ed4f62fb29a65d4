// A session that attaches a damaged or oversized raster file and edits it: the edit is refused
// with the reason, or with PXMEND_ACCEPT_DAMAGED made on a picture whose undecoded part is white,
// the same file on every run; PXMEND_MAX_PIXELS lowers the pixel limit.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/damaged_files.h"
#include "frame/app.h"
#include "host/mdlresource.h"
#include "subhost/host_fixture.h"
#include "subhost/imagefile/imagefile.h"

namespace fs = std::filesystem;

namespace {

class DamagedSessionTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        dir = fs::temp_directory_path() / ("subhost-damaged-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        HostTest::TearDown();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // Writes site.json attaching `raster` at the origin, one design unit a pixel.
    void attach(const std::string& raster) {
        std::ofstream(dir / "site.json")
            << R"({"name": "site.dgn", "views": [{"rotation": 0, "origin": [0, 0, 0], "extent": [200, 120, 0]}],)"
               R"( "rasters": [{"file": ")"
            << raster << R"("}]})";
    }

    // Runs a session with the add-on that deletes a block near the top of the attached raster (rows
    // 5-20, above any damage) and saves, after the `cfg` lines given; the transcript is in out.
    int deleteBlock(const std::string& cfgLines) {
        std::ofstream(dir / "test.session", std::ios::binary)
            << "cfg PXMEND_SETTINGS " << (dir / "Pxmend.ini").string() << "\n"
            << cfgLines
            << "design site.json\nload\nkeyin PXMEND DELETE\npoint 10 100\npoint 40 115\npoint 10 100\nsave\n";
        subhost::SessionOptions options;
        options.linkedMain = &MdlMain;
        options.linkedResources = &MdlResources;
        out.str("");
        err.str("");
        return subhost::runSession((dir / "test.session").string(), options, out, err);
    }

    // Transcript events named `name`.
    std::vector<nlohmann::json> named(const std::string& name) {
        std::vector<nlohmann::json> found;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) {
            nlohmann::json e = nlohmann::json::parse(line);
            if (e.value("event", "") == name) found.push_back(e);
        }
        return found;
    }

    // Whether a message centre error's brief holds `text`.
    bool errorSays(const std::string& text) {
        for (const auto& e : named("messageCenter"))
            if (e.value("priority", 0) == 10 && e.value("brief", "").find(text) != std::string::npos) return true;
        return false;
    }

    fs::path dir;
    std::ostringstream out, err;
};

TEST_F(DamagedSessionTest, EditOfADamagedScanIsRefusedUnlessAcceptedAndThenTheSameOnEveryRun) {
    const std::string scan = (dir / "scan.tif").string();
    ASSERT_TRUE(damaged_files::writeCutG4(scan, 200, 120, 0.4));
    const std::vector<std::uint8_t> damaged = damaged_files::bytesOf(scan);
    attach("scan.tif");

    deleteBlock("");
    EXPECT_TRUE(errorSays("damaged CCITT data in row ")) << out.str();
    EXPECT_TRUE(named("fileWritten").empty()) << out.str();
    EXPECT_EQ(damaged_files::bytesOf(scan), damaged);

    // Accepted: said in the transcript, written back whole, and two runs make the same file.
    std::vector<std::vector<std::uint8_t>> results;
    for (int run = 0; run < 2; ++run) {
        damaged_files::writeBytes(scan, damaged);
        fs::remove(dir / "scan-backup.tif");
        EXPECT_EQ(deleteBlock("cfg PXMEND_ACCEPT_DAMAGED 1\n"), 0) << out.str() << err.str();
        ASSERT_FALSE(named("rasterDamaged").empty()) << out.str();
        EXPECT_NE(named("rasterDamaged")[0].value("damage", "").find("damaged CCITT data in row "), std::string::npos);
        EXPECT_FALSE(named("fileWritten").empty()) << out.str();
        results.push_back(damaged_files::bytesOf(scan));
    }
    EXPECT_EQ(results[0], results[1]);
    const subhost::imagefile::ImageResult read = subhost::imagefile::readImage(scan);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_TRUE(read.damage.empty());
    const auto& pixels = read.image.pixels;
    const std::size_t lastRow = std::size_t(read.image.height - 1) * read.image.stride;
    EXPECT_TRUE(
        std::all_of(pixels.begin() + std::ptrdiff_t(lastRow), pixels.end(), [](std::uint8_t b) { return b == 0; }));

    // A value that is neither 1 nor 0 refuses the file, saying so.
    damaged_files::writeBytes(scan, damaged);
    deleteBlock("cfg PXMEND_ACCEPT_DAMAGED maybe\n");
    EXPECT_TRUE(errorSays("PXMEND_ACCEPT_DAMAGED must be 1")) << out.str();
    EXPECT_EQ(damaged_files::bytesOf(scan), damaged);
}

TEST_F(DamagedSessionTest, RastersOverThePixelLimitAreNotDecoded) {
    damaged_files::writeBytes((dir / "huge.gif").string(), damaged_files::hugeGif());
    attach("huge.gif");
    deleteBlock("");
    EXPECT_TRUE(errorSays("65500 x 65500 pixels (4290250000 pixels), over the limit of 2000000000 pixels"))
        << out.str();

    // PXMEND_MAX_PIXELS lowers the limit below an ordinary small scan.
    const std::string scan = (dir / "scan.tif").string();
    ASSERT_TRUE(damaged_files::writeCutG4(scan, 200, 120, 1.0));
    const std::vector<std::uint8_t> before = damaged_files::bytesOf(scan);
    attach("scan.tif");
    deleteBlock("cfg PXMEND_MAX_PIXELS 10000\n");
    EXPECT_TRUE(errorSays("200 x 120 pixels (24000 pixels), over the limit of 10000 pixels")) << out.str();
    EXPECT_EQ(damaged_files::bytesOf(scan), before);
    deleteBlock("cfg PXMEND_MAX_PIXELS 24000\n");
    EXPECT_FALSE(named("fileWritten").empty()) << out.str();
}

}  // namespace
