// Helpers for the GIF tests: GIF files built byte by byte (so that the host's
// reader is checked against files no GIF library wrote), giflib's own reading of
// a whole file, and an outside decoder apart from giflib: netpbm's giftopnm
// (Debian package netpbm, named in scripts/setup.sh), whose absence fails the
// tests rather than skipping them.
#pragma once

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "subhost/imagefile/imagefile.h"

namespace gif_test {

// The colour table of the hand-made files: red, green, blue, white.
inline const std::vector<subhost::imagefile::Rgb8>& handMadeColours() {
    static const std::vector<subhost::imagefile::Rgb8> colours = {
        {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    return colours;
}

// What the hand-made file holds besides its pixels.
struct HandMadeGif {
    int width = 0;
    int height = 0;
    std::vector<int> pixels;  // indices 0..3, rows top to bottom
    bool interlaced = false;
    int background = 0;        // screen background colour index
    int transparent = -1;      // >= 0: a graphic control extension with this transparent index
    bool secondImage = false;  // the same image again after the first (an animation of two)
};

// A GIF built by hand: 4 colours, LZW with a clear code before every 2 literals
// so that the code width stays at 3 bits; rows stored in interlaced order when asked.
inline std::vector<std::uint8_t> handMadeGif(const HandMadeGif& g) {
    auto lo = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); };
    std::vector<std::uint8_t> gif = {'G',
                                     'I',
                                     'F',
                                     '8',
                                     '9',
                                     'a',
                                     lo(g.width),
                                     hi(g.width),
                                     lo(g.height),
                                     hi(g.height),
                                     0x81,
                                     static_cast<std::uint8_t>(g.background),
                                     0};
    for (const auto& c : handMadeColours()) gif.insert(gif.end(), c.begin(), c.end());
    std::vector<int> rows;
    if (g.interlaced) {
        for (int start : {0, 4, 2, 1})
            for (int y = start; y < g.height; y += start == 0 ? 8 : start == 4 ? 8 : start == 2 ? 4 : 2)
                rows.push_back(y);
    } else {
        for (int y = 0; y < g.height; ++y) rows.push_back(y);
    }
    std::vector<int> codes;
    int written = 0;
    for (int y : rows)
        for (int x = 0; x < g.width; ++x, ++written) {
            if (written % 2 == 0) codes.push_back(4);  // clear
            codes.push_back(g.pixels[static_cast<std::size_t>(y * g.width + x)]);
        }
    codes.push_back(5);  // end
    std::vector<std::uint8_t> data;
    unsigned bits = 0, count = 0;
    for (int code : codes) {
        bits |= static_cast<unsigned>(code) << count;
        count += 3;
        while (count >= 8) {
            data.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count) data.push_back(static_cast<std::uint8_t>(bits));
    const int images = g.secondImage ? 2 : 1;
    for (int image = 0; image < images; ++image) {
        if (g.transparent >= 0)
            gif.insert(gif.end(), {'!', 0xF9, 4, 0x01, 0, 0, static_cast<std::uint8_t>(g.transparent), 0});
        gif.insert(gif.end(), {',', 0, 0, 0, 0, lo(g.width), hi(g.width), lo(g.height), hi(g.height),
                               static_cast<std::uint8_t>(g.interlaced ? 0x40 : 0), 2});
        for (std::size_t at = 0; at < data.size(); at += 255) {
            std::size_t n = std::min<std::size_t>(255, data.size() - at);
            gif.push_back(static_cast<std::uint8_t>(n));
            gif.insert(gif.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        gif.push_back(0);
    }
    gif.push_back(';');
    return gif;
}

inline std::vector<std::uint8_t> handMadeGif(int width, int height, const std::vector<int>& pixels, bool interlaced) {
    HandMadeGif g;
    g.width = width;
    g.height = height;
    g.pixels = pixels;
    g.interlaced = interlaced;
    return handMadeGif(g);
}

inline void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A whole file as giflib alone reads it (DGifSlurp), closed when the owner goes.
struct SlurpCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using Slurped = std::unique_ptr<GifFileType, SlurpCloser>;

// Takes a path, gives the file read whole by giflib, or null (with a test failure naming giflib's reason).
inline Slurped slurpWithGiflib(const std::string& path) {
    int error = 0;
    Slurped gif(DGifOpenFileName(path.c_str(), &error));
    if (!gif) {
        ADD_FAILURE() << "giflib cannot open " << path << ": " << GifErrorString(error);
        return nullptr;
    }
    if (DGifSlurp(gif.get()) != GIF_OK) {
        ADD_FAILURE() << "giflib cannot read " << path << ": " << GifErrorString(gif->Error);
        return nullptr;
    }
    return gif;
}

// The GIF decoder apart from giflib that the tests check written files with.
constexpr const char* kGiftopnm = "/usr/bin/giftopnm";

// What giftopnm made of a file: its exit code, what it said on stderr (-verbose
// when asked) and the decoded picture (PPM: 3 bytes r, g, b a pixel).
struct OutsideDecode {
    int code = -1;
    std::string said;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

// Takes a GIF path and a scratch folder, gives giftopnm's decoding of it. Fails
// the test (never skips it) when giftopnm is not installed.
inline OutsideDecode decodeWithGiftopnm(const std::string& path, const std::string& scratch, bool verbose = false) {
    OutsideDecode d;
    if (!std::filesystem::exists(kGiftopnm)) {
        ADD_FAILURE() << kGiftopnm << " is missing: install Debian's netpbm (scripts/setup.sh names it)";
        return d;
    }
    const std::string ppm = scratch + "/outside.ppm", said = scratch + "/outside.txt";
    const std::string line =
        std::string(kGiftopnm) + (verbose ? " -verbose '" : " '") + path + "' >'" + ppm + "' 2>'" + said + "'";
    const int status = std::system(line.c_str());
    d.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    {
        std::ifstream in(said);
        d.said.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> d.width >> d.height >> maxval;
    in.get();  // the one white-space byte before the samples
    if (!in || magic != "P6" || maxval != 255 || d.width <= 0 || d.height <= 0) {
        ADD_FAILURE() << "giftopnm gave no 8-bit PPM for " << path << " (exit " << d.code << "): " << d.said;
        d.width = d.height = 0;
        return d;
    }
    d.rgb.resize(static_cast<std::size_t>(d.width) * static_cast<std::size_t>(d.height) * 3);
    in.read(reinterpret_cast<char*>(d.rgb.data()), static_cast<std::streamsize>(d.rgb.size()));
    if (!in) {
        ADD_FAILURE() << "giftopnm's PPM for " << path << " is cut short";
        d.rgb.clear();
    }
    return d;
}

// Takes an outside decoding and a palette image, gives how many pixels differ
// from the colour their palette index shows (every pixel counts when the sizes differ).
inline std::size_t pixelsUnlike(const OutsideDecode& d, const subhost::imagefile::Image& image) {
    const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    if (d.width != image.width || d.height != image.height || d.rgb.size() != 3 * pixels) return pixels;
    std::size_t unlike = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * image.stride + static_cast<std::size_t>(x);
            const std::size_t pixel =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x);
            const auto& c = image.palette[image.pixels[at]];
            const std::uint8_t* p = d.rgb.data() + 3 * pixel;
            if (p[0] != c[0] || p[1] != c[1] || p[2] != c[2]) ++unlike;
        }
    return unlike;
}

}  // namespace gif_test
