// GIF through giflib, read only: the first image of the file on its logical
// screen (the rest of the screen in the background colour), as an 8-bit
// palette image. The host cannot write GIF files.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "subhost/imagefile/codecs.h"

namespace subhost::imagefile::detail {

namespace {

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

// Takes a giflib error code, gives its text. giflib returns some failures (a file cut short
// inside an image descriptor) without setting a code: those are said as what they are.
std::string giflibSays(int error) {
    if (const char* text = GifErrorString(error)) return std::string("giflib: ") + text;
    if (error == 0) return "giflib stopped without naming an error: the GIF data ends early or is damaged";
    return "giflib error code " + std::to_string(error);
}

GifPtr gifOpen(const std::string& path, std::string& why) {
    int error = 0;
    GifPtr gif(DGifOpenFileName(path.c_str(), &error));
    if (!gif) why = "not a readable GIF file (" + giflibSays(error) + ")";
    return gif;
}

void gifInfoFrom(const GifFileType* gif, ImageInfo& info) {
    info.width = gif->SWidth;
    info.height = gif->SHeight;
    info.mode = ColorMode::Palette8;
    info.compression = Compression::Lzw;
    info.bitsPerSample = 8;
    info.samplesPerPixel = 1;
    info.layout = Layout{false, static_cast<std::uint32_t>(std::max(gif->SHeight, 0)), 0, 0};
}

// Takes the open file, skips extensions up to the first image and reads its
// descriptor; false with the reason when the file has no image or is damaged.
bool gifFirstImage(GifFileType* gif, std::string& why) {
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
            why = "damaged GIF data (" + giflibSays(gif->Error) + ")";
            return false;
        }
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) == GIF_ERROR) {
                why = "damaged GIF image descriptor (" + giflibSays(gif->Error) + ")";
                return false;
            }
            return true;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) {
                why = "damaged GIF extension (" + giflibSays(gif->Error) + ")";
                return false;
            }
            while (block) {
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
                    why = "damaged GIF extension (" + giflibSays(gif->Error) + ")";
                    return false;
                }
            }
            continue;
        }
        why = "the GIF file holds no image";
        return false;
    }
}

}  // namespace

bool gifReadInfo(const std::string& path, ImageInfo& info, std::string& why) {
    GifPtr gif = gifOpen(path, why);
    if (!gif) return false;
    gifInfoFrom(gif.get(), info);
    return true;
}

bool gifRead(const std::string& path, Image& image, std::string& why) {
    GifPtr gif = gifOpen(path, why);
    if (!gif) return false;
    GifFileType* g = gif.get();
    gifInfoFrom(g, image);
    if (!checkDecodable(image, why) || !gifFirstImage(g, why)) return false;
    const ColorMapObject* map = g->Image.ColorMap ? g->Image.ColorMap : g->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0 || map->ColorCount > 256) {
        why = "the GIF file has no usable colour table";
        return false;
    }
    const GifImageDesc& frame = g->Image;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Width > 65535 || frame.Height > 65535) {
        why = format("invalid GIF image size %d x %d", frame.Width, frame.Height);
        return false;
    }
    if (!allocatePixels(image, why)) return false;
    image.palette.fill(Rgb8{0, 0, 0});
    for (int i = 0; i < map->ColorCount; ++i)
        image.palette[static_cast<std::size_t>(i)] = Rgb8{map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue};
    image.paletteCount = map->ColorCount;
    std::fill(image.pixels.begin(), image.pixels.end(), static_cast<std::uint8_t>(g->SBackGroundColor));

    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    auto place = [&](int row) {
        int y = frame.Top + row;
        if (y < 0 || y >= image.height || frame.Left >= image.width) return;
        int from = std::max(0, -frame.Left);
        int to = std::min(frame.Width, image.width - frame.Left);
        if (to > from)
            std::memcpy(image.pixels.data() + static_cast<std::size_t>(y) * image.stride + frame.Left + from,
                        line.data() + from, static_cast<std::size_t>(to - from));
    };
    static constexpr int kPassStart[4] = {0, 4, 2, 1};
    static constexpr int kPassStep[4] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? kPassStart[pass] : 0;
        const int step = frame.Interlace ? kPassStep[pass] : 1;
        for (int row = start; row < frame.Height; row += step) {
            if (DGifGetLine(g, line.data(), frame.Width) == GIF_ERROR) {
                why = "damaged GIF pixel data (" + giflibSays(g->Error) + ")";
                return false;
            }
            place(row);
        }
    }
    return true;
}

}  // namespace subhost::imagefile::detail
