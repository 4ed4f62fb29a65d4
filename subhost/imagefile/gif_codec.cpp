// GIF through giflib: the first image of the file on its logical screen (the
// rest of the screen in the background colour), as an 8-bit palette image; and
// that image written back in place of the file it came from (giflib's EGif
// writer, LZW as giflib codes it), with its colour table, background colour,
// transparent colour and interlacing. New GIF files are not made (see
// canWriteFormat in imagefile.h).
#include <gif_lib.h>

#include <algorithm>
#include <cerrno>
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

// Takes a source, gives giflib's reader of it through its own descriptor (giflib closes it,
// also when it fails), or null with the reason.
GifPtr gifOpen(const Source& source, std::string& why) {
    const int fd = duplicateAtStart(source, why);
    if (fd < 0) return nullptr;
    int error = 0;
    GifPtr gif(DGifOpenFileHandle(fd, &error));
    if (!gif) why = "not a readable GIF file (" + giflibSays(error) + ")";
    return gif;
}

// Takes a colour table, sets the palette from it (the unused entries black); false for a table
// with no usable entries.
bool gifPaletteFrom(const ColorMapObject* map, ImageInfo& info) {
    if (!map || !map->Colors || map->ColorCount <= 0 || map->ColorCount > 256) return false;
    info.palette.fill(Rgb8{0, 0, 0});
    for (int i = 0; i < map->ColorCount; ++i)
        info.palette[static_cast<std::size_t>(i)] = Rgb8{map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue};
    info.paletteCount = map->ColorCount;
    return true;
}

void gifInfoFrom(const GifFileType* gif, ImageInfo& info) {
    info.width = gif->SWidth;
    info.height = gif->SHeight;
    info.mode = ColorMode::Palette8;
    info.compression = Compression::Lzw;
    info.bitsPerSample = 8;
    info.samplesPerPixel = 1;
    info.layout = Layout{false, static_cast<std::uint32_t>(std::max(gif->SHeight, 0)), 0, 0};
    info.details.gifBackground = gif->SBackGroundColor;
}

// Takes the open file, skips extensions up to the first image and reads its
// descriptor, noting the transparent colour of the graphic control extension
// that comes before it in `details`; false with the reason when the file has no
// image or is damaged.
bool gifFirstImage(GifFileType* gif, FileDetails& details, std::string& why) {
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
            GraphicsControlBlock control{};
            if (code == GRAPHICS_EXT_FUNC_CODE && block && DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                details.gifTransparent = control.TransparentColor;
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

// Takes the file just past the first image's pixels, gives whether another image
// follows (records up to the next image descriptor or the trailer). A damaged or
// cut tail after the first image ends the look without an error: the image the
// host shows was read whole.
bool gifMoreImages(GifFileType* gif) {
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) return true;
        if (type != EXTENSION_RECORD_TYPE) return false;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
        while (block)
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
}

// Writes go through this sink so that every failed write is caught, also those
// whose result giflib itself does not check.
struct GifSink {
    std::FILE* file = nullptr;
    int error = 0;  // errno of the first failed write
};

int gifSinkWrite(GifFileType* gif, const GifByteType* bytes, int count) {
    auto* sink = static_cast<GifSink*>(gif->UserData);
    if (sink->error != 0 || count < 0) return 0;
    const std::size_t put = std::fwrite(bytes, 1, static_cast<std::size_t>(count), sink->file);
    if (put != static_cast<std::size_t>(count)) sink->error = errno ? errno : EIO;
    return static_cast<int>(put);
}

struct GifWriterCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};
using GifWriterPtr = std::unique_ptr<GifFileType, GifWriterCloser>;

struct ColorMapDeleter {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

}  // namespace

bool gifReadInfo(const Source& source, ImageInfo& info, std::string& why) {
    GifPtr gif = gifOpen(source, why);
    if (!gif) return false;
    GifFileType* g = gif.get();
    gifInfoFrom(g, info);
    // The first image's own colour table, when it has one, follows its descriptor: the records
    // before it are read, never its pixels. A file whose records cannot be read keeps the screen's
    // table here; its decode says what is wrong.
    setDefaultPalette(info);
    std::string damaged;
    FileDetails details = info.details;
    const ColorMapObject* map =
        gifFirstImage(g, details, damaged) && g->Image.ColorMap ? g->Image.ColorMap : g->SColorMap;
    gifPaletteFrom(map, info);
    return true;
}

bool gifRead(const Source& source, Image& image, std::string& why) {
    GifPtr gif = gifOpen(source, why);
    if (!gif) return false;
    GifFileType* g = gif.get();
    gifInfoFrom(g, image);
    if (!checkDecodable(image, why) || !gifFirstImage(g, image.details, why)) return false;
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
    gifPaletteFrom(map, image);
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
    image.details.interlaced = frame.Interlace;
    image.details.gifMoreImages = gifMoreImages(g);
    return true;
}

bool gifWrite(const std::string& path, const Image& image, const WriteSettings& ws, std::string& why) {
    if (image.mode != ColorMode::Palette8) {
        why = "GIF files hold 8-bit palette images only";
        return false;
    }
    if (image.width > 65535 || image.height > 65535) {
        why = format("image size %d x %d is over the GIF limit of 65535 pixels a side", image.width, image.height);
        return false;
    }
    // The colour table: the image's palette, grown to a power of two (as GIF
    // needs) that also covers every index the pixels use, so that no pixel is
    // cut to fewer bits by the writer. Entries past paletteCount are the
    // palette's own (black unless set), as the host shows them.
    int used = std::clamp(image.paletteCount, 1, 256);
    for (int y = 0; y < image.height && used < 256; ++y) {
        const std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * image.stride;
        used = std::max(used, *std::max_element(row, row + image.width) + 1);
    }
    int colours = 2;
    while (colours < used) colours *= 2;
    std::vector<GifColorType> table(static_cast<std::size_t>(colours));
    for (int i = 0; i < colours; ++i) {
        const Rgb8& c = image.palette[static_cast<std::size_t>(i)];
        table[static_cast<std::size_t>(i)] = GifColorType{c[0], c[1], c[2]};
    }
    std::unique_ptr<ColorMapObject, ColorMapDeleter> map(GifMakeMapObject(colours, table.data()));
    if (!map) {
        why = "out of memory for the GIF colour table";
        return false;
    }
    const FileDetails& d = ws.details;
    const int background = d.gifBackground >= 0 && d.gifBackground < colours ? d.gifBackground : 0;
    const int transparent = d.gifTransparent >= 0 && d.gifTransparent <= 255 ? d.gifTransparent : -1;

    FilePtr file = openFile(path, "wb", why);
    if (!file) {
        why = "cannot create the file: " + why;
        return false;
    }
    GifSink sink;
    sink.file = file.get();
    int error = 0;
    GifWriterPtr gif(EGifOpen(&sink, gifSinkWrite, &error));
    if (!gif) {
        why = "cannot start the GIF writer (" + giflibSays(error) + ")";
        return false;
    }
    GifFileType* g = gif.get();
    // giflib's error for the failed step, or the system's when a write failed.
    auto failed = [&](const char* step) {
        why = sink.error != 0 ? "cannot write the file: " + systemError(sink.error)
                              : std::string("cannot ") + step + " (" + giflibSays(g->Error) + ")";
        return false;
    };
    // GIF89a when the file carries a transparent colour (a graphic control extension), else GIF87a.
    EGifSetGifVersion(g, transparent >= 0);
    if (EGifPutScreenDesc(g, image.width, image.height, 8, background, map.get()) == GIF_ERROR)
        return failed("write the GIF screen descriptor");
    if (transparent >= 0) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSAL_UNSPECIFIED;
        control.TransparentColor = transparent;
        GifByteType extension[4];
        const std::size_t length = EGifGCBToExtension(&control, extension);
        if (EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_ERROR)
            return failed("write the GIF graphic control extension");
    }
    const bool interlaced = ws.details.interlaced;
    if (EGifPutImageDesc(g, 0, 0, image.width, image.height, interlaced, nullptr) == GIF_ERROR)
        return failed("write the GIF image descriptor");
    // EGifPutLine masks the line it is given in place: hand it a copy of each row.
    std::vector<GifPixelType> line(static_cast<std::size_t>(image.width));
    auto putRow = [&](int y) {
        const std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * image.stride;
        std::copy(row, row + image.width, line.begin());
        return EGifPutLine(g, line.data(), image.width) != GIF_ERROR;
    };
    static constexpr int kPassStart[4] = {0, 4, 2, 1};
    static constexpr int kPassStep[4] = {8, 8, 4, 2};
    const int passes = interlaced ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = interlaced ? kPassStart[pass] : 0;
        const int step = interlaced ? kPassStep[pass] : 1;
        for (int y = start; y < image.height; y += step)
            if (!putRow(y)) return failed("encode the GIF pixel data");
    }
    // Closing writes the trailer through the sink; the file is closed here.
    error = 0;
    if (EGifCloseFile(gif.release(), &error) == GIF_ERROR) {
        why = sink.error != 0 ? "cannot write the file: " + systemError(sink.error)
                              : "cannot finish the GIF file (" + giflibSays(error) + ")";
        return false;
    }
    if (sink.error != 0) {
        why = "cannot write the file: " + systemError(sink.error);
        return false;
    }
    if (std::fclose(file.release()) != 0) {
        why = "cannot finish the file: " + systemError(errno);
        return false;
    }
    return true;
}

}  // namespace subhost::imagefile::detail
