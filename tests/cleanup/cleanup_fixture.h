// The clean-up commands driven through the substitute host: the add-on loaded with the imaging
// libraries found in the build folder, scans made on the fly, and the written files read back.
#pragma once

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cleanup/library.h"
#include "common/scoped_env.h"
#include "edit/edit_fixture.h"
#include "host/messages.h"

class CleanupTest : public EditTest {
protected:
    ScopedEnv libraries{"PIXELMEND_LIBRARY_PATH", PXMEND_BIN_DIR};

    void SetUp() override {
        EditTest::SetUp();
        v_cleanupLibraryRelease();
    }
    void TearDown() override {
        EditTest::TearDown();
        v_cleanupLibraryRelease();
    }

    // Paper with ink lines 3 pixels thick every 40 rows, rising to the right by degrees (a page turned
    // counter-clockwise); negative: white lines on black.
    std::string linesFile(const std::string& name, int width, int height, double degrees, bool negative = false) {
        const double slope = std::tan(degrees * 3.14159265358979323846 / 180.0);
        return monoFile(name, width, height, [&](int x, int row) {
            if (x < 20 || x >= width - 20) return negative;
            const double straight = row + (x - width / 2.0) * slope - height / 2.0;  // the row were it not turned
            const double offset = std::fmod(std::fmod(straight, 40.0) + 40.0, 40.0);
            return (offset < 3.0) != negative;
        });
    }

    // The decoded file at path (as written back).
    static img::Image readBack(const std::string& path) {
        img::ImageResult result = img::readImage(path);
        EXPECT_TRUE(result.ok) << result.error;
        return std::move(result.image);
    }

    // Whether the monochrome pixel at x, row is set.
    static bool inkAt(const img::Image& image, int x, int row) {
        return (image.pixels[std::size_t(row) * image.stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
    }

    // Tilt in degrees (positive rising to the right) of the ink line through the middle of the image:
    // the mean ink row within 15 rows of the middle, 140 pixels either side of the middle column.
    static double middleLineTilt(const img::Image& image, bool ink = true) {
        auto meanRow = [&](int x) {
            double sum = 0, count = 0;
            for (int row = image.height / 2 - 15; row <= image.height / 2 + 15; ++row)
                if (inkAt(image, x, row) == ink) sum += row, count += 1;
            return count ? sum / count : NAN;
        };
        const int x1 = image.width / 2 - 140, x2 = image.width / 2 + 140;
        return std::atan((meanRow(x1) - meanRow(x2)) / (x2 - x1)) * 180.0 / 3.14159265358979323846;
    }

    static std::string bytesOf(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // Opens the design with file at the origin and picks the deskew tool in mode.
    void startDeskew(const std::string& file, int mode) {
        start({{{"file", file}}});
        s__globals.DeskewMode = mode;
        s__globals.DeskewCorner = 0;
        command(rid::CMD_DESKEW);
    }
};
