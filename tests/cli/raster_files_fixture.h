// Runs the pixelmend command on raster files made for the test in a folder of its own, with the
// add-on's settings kept in that folder too, and reads pixels and bytes back.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "command_runner.h"
#include "subhost/imagefile/imagefile.h"

class RasterFilesTest : public ::testing::Test {
protected:
    struct Run {
        int code = -1;
        std::string out;  // stdout and stderr together
        bool says(const std::string& text) const { return out.find(text) != std::string::npos; }
    };

    std::filesystem::path dir;

    void SetUp() override {
        dir =
            std::filesystem::temp_directory_path() / ("pixelmend-files-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "config");
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // Runs `pixelmend ARGS` in the test folder; the user's settings live in the folder's config/.
    Run pixelmend(const std::string& args) const {
        const std::string line = "cd '" + dir.string() + "' && XDG_CONFIG_HOME='" + (dir / "config").string() +
                                 "' " PXMEND_BIN_DIR "/pixelmend " + args + " 2>&1";
        const CommandOutput output = runCommandLine(line);
        Run r;
        r.code = output.code;
        r.out = output.out;
        return r;
    }

    // Grey level of the pattern image at (x, row): every pixel tells where it is.
    static int patternAt(int x, int row) { return 20 + (x + 3 * row) % 200; }

    // A grey picture of the pattern, as a TIFF or PNG named name.
    std::string greyFile(const std::string& name, int width, int height,
                         subhost::imagefile::FileFormat format = subhost::imagefile::FileFormat::Tiff) {
        namespace img = subhost::imagefile;
        img::Image image = img::makeImage(width, height, img::ColorMode::Grey8).image;
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x)
                image.pixels[std::size_t(row) * image.stride + std::size_t(x)] = std::uint8_t(patternAt(x, row));
        return write(name, image, format);
    }

    std::string write(const std::string& name, const subhost::imagefile::Image& image,
                      subhost::imagefile::FileFormat format = subhost::imagefile::FileFormat::Tiff) {
        const std::string path = (dir / name).string();
        const auto status = subhost::imagefile::createImageFile(path, format, image);
        EXPECT_EQ(status.status, 0) << status.error;
        return path;
    }

    subhost::imagefile::Image image(const std::string& name) const {
        auto result = subhost::imagefile::readImage((dir / name).string());
        EXPECT_TRUE(result.ok) << result.error;
        return result.image;
    }

    std::string bytes(const std::string& name) const {
        std::ifstream in(dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    bool exists(const std::string& name) const { return std::filesystem::exists(dir / name); }
};
