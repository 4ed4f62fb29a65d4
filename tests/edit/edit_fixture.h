// The add-on loaded into the substitute host in-process, with a design whose
// raster attachments are files made on the fly, and helpers to drive commands
// and look at the pixels they leave.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "edit/block.h"
#include "edit/blockops.h"
#include "frame/app.h"
#include "frame/commands.h"
#include "host/mdlresource.h"
#include "raster/commit.h"
#include "raster/context.h"
#include "raster/target.h"
#include "resources/ids.h"
#include "settings/settings.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"
#include "subhost/raster/raster.h"
#include "subhost/undo.h"

namespace img = subhost::imagefile;

class EditTest : public ::testing::Test {
protected:
    std::filesystem::path dir;

    void SetUp() override {
        subhost::hostReset();
        char pattern[] = "/tmp/pxmend-edit-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        subhost::setCfgVar("PXMEND_SETTINGS", (dir / "Pxmend.ini").string());
        v_addonStateReset();
    }

    void TearDown() override {
        if (subhost::applicationLoaded()) {
            subhost::setDefaultAnswer(ACTIONBUTTON_NO);
            subhost::unloadApplication(0);
        }
        subhost::hostReset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // A grey picture whose every pixel tells where it is: value 20 + (x + 3 * row) % 200.
    static int patternAt(int x, int row) { return 20 + (x + 3 * row) % 200; }

    std::string greyFile(const std::string& name, int width, int height) {
        img::Image image = img::makeImage(width, height, img::ColorMode::Grey8).image;
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x)
                image.pixels[std::size_t(row) * image.stride + std::size_t(x)] = std::uint8_t(patternAt(x, row));
        return write(name, image);
    }

    // A monochrome picture with ink (bit set) where ink(x, row) says.
    template <class Ink>
    std::string monoFile(const std::string& name, int width, int height, Ink ink) {
        img::Image image = img::makeImage(width, height, img::ColorMode::Mono).image;
        image.photometric = img::Photometric::MinIsWhite;
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x)
                if (ink(x, row))
                    image.pixels[std::size_t(row) * image.stride + std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
        return write(name, image);
    }

    std::string write(const std::string& name, const img::Image& image) {
        const std::string path = (dir / name).string();
        const img::WriteStatus status = img::createImageFile(path, img::FileFormat::Tiff, image);
        EXPECT_EQ(status.status, 0) << status.error;
        return path;
    }

    // Opens a design with one view (turned by viewRotation degrees) holding the raster entries; loads the add-on.
    void start(const nlohmann::json& rasters, bool readOnly = false, const nlohmann::json& extra = {}) {
        nlohmann::json design = {{"name", "site.dgn"},
                                 {"readOnly", readOnly},
                                 {"views", {{{"rotation", 0}, {"origin", {0, 0, 0}}, {"extent", {400, 400, 0}}}}},
                                 {"rasters", rasters}};
        if (extra.is_object()) design.update(extra);
        const auto path = dir / "site.json";
        std::ofstream(path) << design.dump();
        std::string error;
        ASSERT_TRUE(subhost::openDesign(path.string(), &error)) << error;
        ASSERT_TRUE(subhost::loadLinkedApplication(&MdlMain, &MdlResources, (dir / "bin" / "pxmend.so").string(),
                                                   "KEYIN", &error))
            << error;
        s__globals.CanvasAuto = 0;
        s__globals.CanvasColorIndex = 255;
        s__globals.Backup = 0;
        subhost::clearTranscript();  // start-up notices are not the commands' messages
    }

    // The 100 x 100 pattern picture as scan.tif at the design origin, the add-on loaded.
    void startScan(bool readOnlyModel = false) {
        greyFile("scan.tif", 100, 100);
        start({{{"file", "scan.tif"}}}, readOnlyModel);
    }

    void command(CommandNumber number) { subhost::runCommand(number, ""); }
    void point(double x, double y) { subhost::dataPoint(DPoint3d{x, y, 0.0}, 0); }
    // Data points in order, e.g. the two corners of a block and the point that places it.
    void points(std::initializer_list<std::pair<double, double>> list) {
        for (const auto& [x, y] : list) point(x, y);
    }

    // The attachments of the model in order.
    static std::vector<DgnRasterP> rasters() {
        std::vector<DgnRasterP> out;
        const DgnRasterCollection all = DgnRasterCollection::GetRasters(nullptr);
        for (auto it = all.begin(); it.IsDifferent(all.end()); it.MoveToNext()) out.push_back(it.GetCurrent());
        return out;
    }

    // Byte of the attachment's pixels at column x, row (rows from the top), as the host holds them now.
    static int pixel(DgnRasterP raster, int x, int row) {
        std::string error;
        EXPECT_TRUE(subhost::raster::ensureDecoded(*raster->file, &error)) << error;
        const img::Image& image = *raster->file->image;
        if (image.mode == img::ColorMode::Mono)
            return (image.pixels[std::size_t(row) * image.stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
        return image.pixels[std::size_t(row) * image.stride + std::size_t(x)];
    }

    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& e : subhost::transcript())
            if (e.value("event", "") == "messageBox") out.push_back(e.value("text", ""));
        return out;
    }

    // Transcript events named event.
    static std::vector<nlohmann::json> events(const std::string& event) {
        std::vector<nlohmann::json> out;
        for (const auto& e : subhost::transcript())
            if (e.value("event", "") == event) out.push_back(e);
        return out;
    }

    bool shown(const std::string& text) const {
        for (const auto& m : messages())
            if (m.find(text) != std::string::npos) return true;
        return false;
    }
};
