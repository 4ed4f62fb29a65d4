// Writes the raster seeds of the fuzz loop (tests/fuzz/seeds/raster): small valid
// files of every format and layout the codecs read, made with the host's own writers
// (and giflib for GIF, which the host does not create). Run by hand when the seeds
// are to be made anew: fuzz_make_seeds FOLDER.
#include <gif_lib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "subhost/imagefile/imagefile.h"

namespace img = subhost::imagefile;
namespace fs = std::filesystem;

namespace {

// A small image of mode with a pattern in every byte.
img::Image pattern(int width, int height, img::ColorMode mode) {
    img::ImageResult made = img::makeImage(width, height, mode);
    if (!made.ok) throw std::runtime_error(made.error);
    img::Image image = std::move(made.image);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        std::uint8_t v = static_cast<std::uint8_t>((i * 29) ^ (i / image.stride) * 7);
        if (mode == img::ColorMode::Palette4) v &= 15;
        image.pixels[i] = v;
    }
    if (mode == img::ColorMode::Mono)
        for (int y = 0; y < height; ++y) image.pixels[y * image.stride + image.stride - 1] &= 0xF0;  // padding clear
    if (mode == img::ColorMode::Palette4 || mode == img::ColorMode::Palette8) {
        image.paletteCount = mode == img::ColorMode::Palette4 ? 16 : 256;
        for (int i = 0; i < image.paletteCount; ++i)
            image.palette[i] = {static_cast<std::uint8_t>(i * 16), static_cast<std::uint8_t>(255 - i),
                                static_cast<std::uint8_t>(i * 3)};
    }
    return image;
}

void create(const fs::path& path, img::FileFormat format, img::Image image, img::Compression compression,
            bool tiled = false) {
    image.compression = compression;
    if (tiled)
        image.layout = img::Layout{true, 0, 16, 16};
    else
        image.layout.rowsPerStrip = 8;
    const img::WriteStatus w = img::createImageFile(path.string(), format, image);
    if (w.status != 0) throw std::runtime_error(w.error);
}

void writeGif(const fs::path& path, bool interlaced) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif) throw std::runtime_error("giflib cannot create " + path.string());
    GifColorType colours[8];
    for (int i = 0; i < 8; ++i)
        colours[i] = {static_cast<GifByteType>(i * 32), static_cast<GifByteType>(255 - i * 32), 0};
    ColorMapObject* map = GifMakeMapObject(8, colours);
    const int width = 20, height = 12;
    bool ok = EGifPutScreenDesc(gif, width, height, 3, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, width, height, interlaced, nullptr) == GIF_OK;
    std::vector<GifPixelType> row(width);
    for (int y = 0; ok && y < height; ++y) {
        for (int x = 0; x < width; ++x) row[x] = static_cast<GifPixelType>((x / 3 + y / 2) % 8);
        ok = EGifPutLine(gif, row.data(), width) == GIF_OK;
    }
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK || !ok) throw std::runtime_error("giflib cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds FOLDER\n");
        return 2;
    }
    const fs::path dir = argv[1];
    try {
        fs::create_directories(dir);
        using C = img::Compression;
        using M = img::ColorMode;
        using F = img::FileFormat;
        create(dir / "mono-g4.tif", F::Tiff, pattern(40, 24, M::Mono), C::CcittG4);
        create(dir / "mono-g3.tif", F::Tiff, pattern(40, 24, M::Mono), C::CcittG3);
        create(dir / "mono-none.tif", F::Tiff, pattern(40, 24, M::Mono), C::None);
        create(dir / "grey-lzw.tif", F::Tiff, pattern(24, 16, M::Grey8), C::Lzw);
        create(dir / "palette8-packbits.tif", F::Tiff, pattern(24, 16, M::Palette8), C::PackBits);
        create(dir / "palette4-none.tif", F::Tiff, pattern(24, 16, M::Palette4), C::None);
        create(dir / "rgb-lzw-tiled.tif", F::Tiff, pattern(20, 20, M::Rgb), C::Lzw, true);
        create(dir / "rgb-deflate.tif", F::Tiff, pattern(16, 12, M::Rgb), C::Deflate);
        create(dir / "rgb-jpeg.tif", F::Tiff, pattern(16, 16, M::Rgb), C::Jpeg);
        create(dir / "mono.png", F::Png, pattern(40, 24, M::Mono), C::Deflate);
        create(dir / "palette.png", F::Png, pattern(16, 12, M::Palette8), C::Deflate);
        create(dir / "rgb.png", F::Png, pattern(16, 12, M::Rgb), C::Deflate);
        create(dir / "grey.jpg", F::Jpeg, pattern(16, 16, M::Grey8), C::Jpeg);
        create(dir / "rgb.jpg", F::Jpeg, pattern(16, 16, M::Rgb), C::Jpeg);
        create(dir / "mono.bmp", F::Bmp, pattern(40, 24, M::Mono), C::None);
        create(dir / "palette8.bmp", F::Bmp, pattern(16, 12, M::Palette8), C::None);
        create(dir / "rgb.bmp", F::Bmp, pattern(12, 10, M::Rgb), C::None);
        writeGif(dir / "palette.gif", false);
        writeGif(dir / "interlaced.gif", true);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_make_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
