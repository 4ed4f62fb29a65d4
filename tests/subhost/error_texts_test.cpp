// Error texts that a user reads: each names the file or key, what was being done and why.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "subhost/host_fixture.h"
#include "subhost/imagefile/imagefile.h"

namespace fs = std::filesystem;

class ErrorTexts : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        dir = fs::temp_directory_path() / ("subhost-errortexts-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        HostTest::TearDown();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // A small grey TIFF beside the design.
    void writeRaster(const std::string& name) {
        namespace img = subhost::imagefile;
        const img::ImageResult made = img::makeImage(8, 8, img::ColorMode::Grey8);
        ASSERT_TRUE(made.ok);
        ASSERT_EQ(img::createImageFile((dir / name).string(), img::FileFormat::Tiff, made.image).status, 0);
    }
    fs::path dir;
};

// A raster entry whose true-or-false field holds something else is refused with the key named.
TEST_F(ErrorTexts, WrongTypeInARasterEntryNamesTheKey) {
    writeRaster("scan.tif");
    const struct {
        const char* field;  // JSON of the entry's fields besides "file"
        const char* key;    // what the reason must name
    } cases[] = {
        {R"("readOnly": "yes")", "\"readOnly\" must be true or false"},
        {R"("rendering": {"transparentBackground": 1})", "rendering \"transparentBackground\" must be true or false"},
        {R"("testInvertMonoWrites": [true])", "\"testInvertMonoWrites\" must be true or false"},
        {R"("testMixedMonoWrites": "no")", "\"testMixedMonoWrites\" must be true or false"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        subhost::hostReset();
        nlohmann::json doc =
            nlohmann::json::parse(std::string(R"({"rasters": [{"file": "scan.tif", )") + c.field + "}]}");
        std::string error;
        ASSERT_TRUE(subhost::openDesignDocument(doc, dir.string(), &error)) << error;
        const auto refused = events("rasterRefused");
        ASSERT_EQ(refused.size(), 1u);
        const std::string reason = refused[0].value("reason", "");
        EXPECT_NE(reason.find(c.key), std::string::npos) << reason;
        EXPECT_EQ(reason.find("json.exception"), std::string::npos) << reason;
    }
}

// A UTF-8 byte-order mark at the start of a script is not part of its first command.
TEST_F(ErrorTexts, ByteOrderMarkBeforeTheFirstCommandIsSkipped) {
    std::ofstream(dir / "site.json") << R"({"name": "site.dgn"})";
    std::ofstream(dir / "bom.session", std::ios::binary) << "\xEF\xBB\xBF"
                                                            "design site.json\n";
    subhost::SessionOptions options;
    options.linkedMain = testapp::mdlMain;
    options.linkedResources = testapp::resources;
    std::ostringstream out, err;
    EXPECT_EQ(subhost::runSession((dir / "bom.session").string(), options, out, err), 0) << out.str();
    EXPECT_EQ(out.str().find("unknown command"), std::string::npos) << out.str();
    EXPECT_FALSE(events("design").empty());
}
