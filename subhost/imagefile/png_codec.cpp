// PNG through libpng. libpng reports errors by longjmp: every call into it sits
// in a small function that holds nothing with a destructor between its setjmp
// and the libpng calls, and the message lands in a fixed buffer.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "subhost/imagefile/codecs.h"

namespace subhost::imagefile::detail {

namespace {

// libpng's first error, and while the pixels are decoded its first warning (libpng reports
// benign errors, such as extra or missing image data, as warnings) and the rows read so far.
struct PngMessages {
    char error[256] = "";
    int watching = 0;
    long rowsRead = 0;
    long warningRow = -1;
    char warning[256] = "";
};

[[noreturn]] void pngOnError(png_structp png, png_const_charp message) {
    auto* messages = static_cast<PngMessages*>(png_get_error_ptr(png));
    if (messages && messages->error[0] == '\0')
        std::snprintf(messages->error, sizeof messages->error, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

// A warning while the rows are read is damage; once they are all read, only one about the
// image data (its end, extra or missing data) is, not one about a later text or metadata chunk.
void pngOnWarning(png_structp png, png_const_charp message) {
    auto* messages = static_cast<PngMessages*>(png_get_error_ptr(png));
    if (!messages || !messages->watching || messages->warning[0] != '\0' || !message) return;
    if (messages->watching == 2 && !std::strstr(message, "IDAT") && !std::strstr(message, "data")) return;
    std::snprintf(messages->warning, sizeof messages->warning, "%s", message);
    messages->warningRow = messages->rowsRead;
}

std::string libpngSays(const PngMessages& messages) {
    return messages.error[0] ? std::string("libpng: ") + messages.error : std::string("libpng gave no reason");
}

// Read and write handles, destroyed with their info structures.
struct PngReadHandle {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngReadHandle(PngMessages& messages) {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &messages, pngOnError, pngOnWarning);
        if (png) info = png_create_info_struct(png);
    }
    ~PngReadHandle() { png_destroy_read_struct(&png, &info, nullptr); }
    PngReadHandle(const PngReadHandle&) = delete;
    PngReadHandle& operator=(const PngReadHandle&) = delete;
};

struct PngWriteHandle {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngWriteHandle(PngMessages& messages) {
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &messages, pngOnError, pngOnWarning);
        if (png) info = png_create_info_struct(png);
    }
    ~PngWriteHandle() { png_destroy_write_struct(&png, &info); }
    PngWriteHandle(const PngWriteHandle&) = delete;
    PngWriteHandle& operator=(const PngWriteHandle&) = delete;
};

// Plain header facts, filled under setjmp.
struct PngHeader {
    png_uint_32 width, height;
    int bitDepth, colorType, interlace;
    int hasPhys;
    png_uint_32 resX, resY;
    int resUnit;
    int paletteCount;
    png_color palette[256];
};

bool pngReadHeader(png_structp png, png_infop info, std::FILE* file, PngHeader* header) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_user_limits(png, static_cast<png_uint_32>(kMaxSide), static_cast<png_uint_32>(kMaxSide));
    png_read_info(png, info);
    png_get_IHDR(png, info, &header->width, &header->height, &header->bitDepth, &header->colorType, &header->interlace,
                 nullptr, nullptr);
    header->hasPhys = png_get_pHYs(png, info, &header->resX, &header->resY, &header->resUnit) != 0;
    header->paletteCount = 0;
    png_colorp palette = nullptr;
    int count = 0;
    if (header->colorType == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(png, info, &palette, &count) && palette) {
        if (count > 256) count = 256;
        std::memcpy(header->palette, palette, sizeof(png_color) * static_cast<std::size_t>(count));
        header->paletteCount = count;
    }
    return true;
}

// Reads the rows (one at a time unless interlaced, counting them in messages->rowsRead);
// false after an error.
bool pngReadRows(png_structp png, png_infop info, png_bytepp rows, png_uint_32 height, int unpackNibbles,
                 PngMessages* messages) {
    if (setjmp(png_jmpbuf(png))) return false;
    if (unpackNibbles) png_set_packing(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    messages->watching = 1;
    if (passes > 1) {
        png_read_image(png, rows);
        messages->rowsRead = static_cast<long>(height);
    } else {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, rows[y], nullptr);
            messages->rowsRead = static_cast<long>(y) + 1;
        }
    }
    messages->watching = 2;
    png_read_end(png, nullptr);
    return true;
}

// Plain description of the file to write, filled before setjmp.
struct PngLayout {
    png_uint_32 width, height;
    int bitDepth, colorType, interlace, packNibbles;
    int hasPhys;
    png_uint_32 resX, resY;
    int resUnit;
    int paletteCount;
    png_color palette[256];
};

bool pngWriteRows(png_structp png, png_infop info, std::FILE* file, const PngLayout* layout, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, layout->width, layout->height, layout->bitDepth, layout->colorType, layout->interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (layout->paletteCount > 0) png_set_PLTE(png, info, layout->palette, layout->paletteCount);
    if (layout->hasPhys) png_set_pHYs(png, info, layout->resX, layout->resY, layout->resUnit);
    png_write_info(png, info);
    if (layout->packNibbles) png_set_packing(png);
    if (layout->interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

ColorMode pngColorMode(const PngHeader& h) {
    switch (h.colorType) {
    case PNG_COLOR_TYPE_GRAY:
        return h.bitDepth == 1 ? ColorMode::Mono : h.bitDepth == 8 ? ColorMode::Grey8 : ColorMode::Other;
    case PNG_COLOR_TYPE_PALETTE:
        return h.bitDepth == 1   ? ColorMode::Mono
               : h.bitDepth == 4 ? ColorMode::Palette4
               : h.bitDepth == 8 ? ColorMode::Palette8
                                 : ColorMode::Other;
    case PNG_COLOR_TYPE_RGB:
        return h.bitDepth == 8 ? ColorMode::Rgb : ColorMode::Other;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return h.bitDepth == 8 ? ColorMode::Rgba : ColorMode::Other;
    default:
        return ColorMode::Other;
    }
}

void pngInfoFrom(const PngHeader& h, ImageInfo& info) {
    info.width = static_cast<int>(h.width);
    info.height = static_cast<int>(h.height);
    info.bitsPerSample = h.bitDepth;
    info.samplesPerPixel = h.colorType == PNG_COLOR_TYPE_RGB          ? 3
                           : h.colorType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                           : h.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                      : 1;
    info.mode = pngColorMode(h);
    info.compression = Compression::Deflate;
    info.layout = Layout{false, h.height, 0, 0};
    info.details.interlaced = h.interlace != PNG_INTERLACE_NONE;
    if (h.hasPhys) {
        bool metre = h.resUnit == PNG_RESOLUTION_METER;
        info.resolution.x = metre ? h.resX / 100.0 : h.resX;
        info.resolution.y = metre ? h.resY / 100.0 : h.resY;
        info.resolution.unit = metre ? ResolutionUnit::Centimetre : ResolutionUnit::None;
    }
    if (info.mode == ColorMode::Mono) {
        Rgb8 zero{0, 0, 0}, one{255, 255, 255};
        if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
            one = Rgb8{0, 0, 0};
            if (h.paletteCount > 0) zero = Rgb8{h.palette[0].red, h.palette[0].green, h.palette[0].blue};
            if (h.paletteCount > 1) one = Rgb8{h.palette[1].red, h.palette[1].green, h.palette[1].blue};
        }
        info.photometric = lighter(zero, one) ? Photometric::MinIsWhite : Photometric::MinIsBlack;
    }
    // PLTE comes before the pixel data: the palette is part of the header.
    setDefaultPalette(info);
    if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
        info.palette.fill(Rgb8{0, 0, 0});
        for (int i = 0; i < h.paletteCount; ++i)
            info.palette[static_cast<std::size_t>(i)] = Rgb8{h.palette[i].red, h.palette[i].green, h.palette[i].blue};
        info.paletteCount = info.mode == ColorMode::Mono ? 2 : h.paletteCount;
    }
}

// Reads the header into `h` with the handle left ready for the rows.
bool pngOpenHeader(PngReadHandle& handle, PngMessages& messages, std::FILE* file, PngHeader& h, std::string& why) {
    if (!handle.png || !handle.info) {
        why = "out of memory";
        return false;
    }
    if (!pngReadHeader(handle.png, handle.info, file, &h)) {
        why = "damaged PNG header (" + libpngSays(messages) + ")";
        return false;
    }
    return true;
}

}  // namespace

bool pngReadInfo(const Source& source, ImageInfo& info, std::string& why) {
    PngMessages messages;
    PngReadHandle handle(messages);
    PngHeader h{};
    if (!pngOpenHeader(handle, messages, source.file, h, why)) return false;
    pngInfoFrom(h, info);
    return true;
}

bool pngRead(const Source& source, Image& image, DamageReport& damage, std::string& why) {
    PngMessages messages;
    PngReadHandle handle(messages);
    PngHeader h{};
    if (!pngOpenHeader(handle, messages, source.file, h, why)) return false;
    pngInfoFrom(h, image);
    if (!allocatePixels(image, why)) return false;
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (std::size_t r = 0; r < rows.size(); ++r) rows[r] = image.pixels.data() + r * image.stride;
    const bool finished =
        pngReadRows(handle.png, handle.info, rows.data(), h.height, image.mode == ColorMode::Palette4, &messages);
    if (finished && messages.warning[0] == '\0') return true;
    // An interlaced image's rows are all unfinished until its last pass: nothing to keep.
    const long rowsRead = h.interlace != PNG_INTERLACE_NONE && !finished ? 0 : messages.rowsRead;
    const std::string text = finished
                                 ? format("damaged PNG data in row %ld (libpng: %s)",
                                          std::min<long>(messages.warningRow, image.height - 1), messages.warning)
                                 : format("damaged PNG data in row %ld (%s)", rowsRead, libpngSays(messages).c_str());
    damage.what = text;
    if (!damage.accept || rowsRead == 0) {
        why = text;
        return false;
    }
    fillPaper(image, static_cast<std::size_t>(rowsRead), static_cast<std::size_t>(image.height - rowsRead));
    return true;
}

bool pngWrite(const std::string& path, const Image& image, const WriteSettings& ws, std::string& why) {
    PngLayout layout{};
    layout.width = static_cast<png_uint_32>(image.width);
    layout.height = static_cast<png_uint_32>(image.height);
    layout.interlace = ws.details.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
    auto setPalette = [&](int count) {
        layout.paletteCount = count;
        for (int i = 0; i < count; ++i) {
            const Rgb8& c = image.palette[static_cast<std::size_t>(i)];
            layout.palette[i] = png_color{c[0], c[1], c[2]};
        }
    };
    switch (image.mode) {
    case ColorMode::Mono: {
        layout.bitDepth = 1;
        const Rgb8 black{0, 0, 0}, white{255, 255, 255};
        bool plainGrey = image.paletteCount >= 2 ? image.palette[0] == black && image.palette[1] == white
                                                 : image.photometric == Photometric::MinIsBlack;
        if (plainGrey) {
            layout.colorType = PNG_COLOR_TYPE_GRAY;
        } else if (image.paletteCount >= 2) {
            layout.colorType = PNG_COLOR_TYPE_PALETTE;
            setPalette(2);
        } else {
            layout.colorType = PNG_COLOR_TYPE_PALETTE;
            layout.paletteCount = 2;
            layout.palette[0] = png_color{255, 255, 255};
            layout.palette[1] = png_color{0, 0, 0};
        }
        break;
    }
    case ColorMode::Palette4:
        layout.bitDepth = 4;
        layout.colorType = PNG_COLOR_TYPE_PALETTE;
        layout.packNibbles = 1;
        setPalette(std::clamp(image.paletteCount, 1, 16));
        break;
    case ColorMode::Palette8:
        layout.bitDepth = 8;
        layout.colorType = PNG_COLOR_TYPE_PALETTE;
        setPalette(std::clamp(image.paletteCount, 1, 256));
        break;
    case ColorMode::Grey8:
        layout.bitDepth = 8;
        layout.colorType = PNG_COLOR_TYPE_GRAY;
        break;
    case ColorMode::Rgb:
        layout.bitDepth = 8;
        layout.colorType = PNG_COLOR_TYPE_RGB;
        break;
    case ColorMode::Rgba:
        layout.bitDepth = 8;
        layout.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        break;
    default:
        why = "colour mode not writable as PNG";
        return false;
    }
    if (image.resolution.x > 0 && image.resolution.y > 0) {
        layout.hasPhys = 1;
        switch (image.resolution.unit) {
        case ResolutionUnit::Centimetre:
            layout.resUnit = PNG_RESOLUTION_METER;
            layout.resX = static_cast<png_uint_32>(std::lround(image.resolution.x * 100));
            layout.resY = static_cast<png_uint_32>(std::lround(image.resolution.y * 100));
            break;
        case ResolutionUnit::Inch:
            layout.resUnit = PNG_RESOLUTION_METER;
            layout.resX = static_cast<png_uint_32>(std::lround(image.resolution.x / 0.0254));
            layout.resY = static_cast<png_uint_32>(std::lround(image.resolution.y / 0.0254));
            break;
        default:
            layout.resUnit = PNG_RESOLUTION_UNKNOWN;
            layout.resX = static_cast<png_uint_32>(std::lround(image.resolution.x));
            layout.resY = static_cast<png_uint_32>(std::lround(image.resolution.y));
            break;
        }
    }
    FilePtr file = openFile(path, "wb", why);
    if (!file) {
        why = "cannot create the file: " + why;
        return false;
    }
    PngMessages messages;
    PngWriteHandle handle(messages);
    if (!handle.png || !handle.info) {
        why = "out of memory";
        return false;
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (std::size_t r = 0; r < rows.size(); ++r)
        rows[r] = const_cast<png_bytep>(image.pixels.data() + r * image.stride);
    if (!pngWriteRows(handle.png, handle.info, file.get(), &layout, rows.data())) {
        const int code = errno;  // a write that failed left its reason here
        why = "cannot encode the image (" + libpngSays(messages) + ")";
        if (code == ENOSPC || code == EDQUOT) why += ": " + systemError(code);
        return false;
    }
    if (std::fclose(file.release()) != 0) {
        why = "cannot finish the file: " + systemError(errno);
        return false;
    }
    return true;
}

}  // namespace subhost::imagefile::detail
