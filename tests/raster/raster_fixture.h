// A design with raster attachments made on the fly: files written into a temporary
// folder, attached through the host's design loader, and the add-on's raster
// state reset around each test.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "frame/app.h"
#include "frame/commands.h"
#include "raster/commit.h"
#include "raster/context.h"
#include "raster/target.h"
#include "settings/settings.h"
#include "subhost/host.h"
#include "subhost/imagefile/imagefile.h"
#include "subhost/raster/raster.h"

namespace testraster {

namespace fs = std::filesystem;
namespace img = subhost::imagefile;

// A monochrome image whose file bits are `ink` on a field of `paper` bits, with ink
// in a band of rows (so that the top-left corner, where probes land, has both).
inline img::Image monoImage(int width, int height, img::Photometric photometric, bool paperBit) {
    img::Image image = img::makeImage(width, height, img::ColorMode::Mono).image;
    image.photometric = photometric;
    const bool minIsWhite = photometric == img::Photometric::MinIsWhite;
    image.palette[0] = minIsWhite ? img::Rgb8{255, 255, 255} : img::Rgb8{0, 0, 0};
    image.palette[1] = minIsWhite ? img::Rgb8{0, 0, 0} : img::Rgb8{255, 255, 255};
    image.paletteCount = 2;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool ink = (x % 10 == 3) || (y % 13 == 5);
            const bool bit = ink ? !paperBit : paperBit;
            if (bit) image.pixels[std::size_t(y) * image.stride + std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
        }
    }
    image.compression = img::Compression::CcittG4;
    return image;
}

class RasterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("pxmend-raster-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        subhost::hostReset();
        subhost::raster::closeAll();
        v_addonStateReset();  // the host reset dropped the string lists the add-on held
        v_settingsDefaults();
        s__globals.HostVersion89 = 1;
        v_activeCommandSet(CMD_DELETE);
    }
    void TearDown() override {
        subhost::raster::closeAll();
        v_addonStateReset();
        fs::remove_all(dir_);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Writes image as a new file name in format; fails the test when it cannot.
    std::string write(const std::string& name, img::Image image, img::FileFormat format = img::FileFormat::Tiff) {
        const std::string p = path(name);
        const img::WriteStatus status = img::createImageFile(p, format, image);
        EXPECT_EQ(status.status, 0) << status.error;
        return p;
    }

    // Attaches the entries (objects with at least "file") and gives the attachments in order.
    std::vector<DgnRasterP> attach(const nlohmann::json& entries) {
        subhost::raster::loadAttachments(entries, dir_.string());
        std::vector<DgnRasterP> out;
        const DgnRasterCollection rasters = DgnRasterCollection::GetRasters(nullptr);
        for (auto it = rasters.begin(); it.IsDifferent(rasters.end()); it.MoveToNext()) out.push_back(it.GetCurrent());
        return out;
    }

    // Loads raster as the current target the way a command does.
    RasterTarget* load(DgnRasterP raster, bool allowReadOnly = true) {
        v_commandRasterSelect(raster, pv_rasterTargetLoad(raster, allowReadOnly, false));
        return currentTarget();
    }

    // Texts of the message boxes shown so far.
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& e : subhost::transcript()) {
            if (e.value("event", "") == "messageBox") out.push_back(e.value("text", ""));
        }
        return out;
    }

    fs::path dir_;
};

}  // namespace testraster
