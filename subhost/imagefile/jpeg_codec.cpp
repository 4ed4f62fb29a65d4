// JPEG through libjpeg (grey and colour). libjpeg's fatal errors longjmp back to
// small functions that hold nothing with a destructor. Its warnings about the
// pixel data (corrupt data, data ending early, a marker in the middle of the
// data) mark the file as damaged from the row being decoded then: libjpeg goes
// on with made-up grey, which is never taken for the picture.
#include <cstdio>
// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <vector>

#include "subhost/imagefile/codecs.h"

namespace subhost::imagefile::detail {

namespace {

// Work memory libjpeg may take beside the decoded image (progressive files keep
// all coefficients), and the most scans a file may have.
constexpr long kMaxWorkMemory = 1L << 30;
constexpr int kMaxScans = 1000;

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    int watching;     // pixel data is being decoded: warnings are damage
    int damaged;      // a warning about the pixel data came
    long damagedRow;  // the first row being decoded when it came
    char damage[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegOnError(j_common_ptr cinfo) {
    auto* error = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, error->message);
    std::longjmp(error->jump, 1);
}

// Warnings (level -1) while the pixels are decoded are damage, except those about the header's
// metadata (an unknown JFIF revision or Adobe transform, a bad ICC profile marker).
void jpegOnMessage(j_common_ptr cinfo, int level) {
    auto* error = reinterpret_cast<JpegError*>(cinfo->err);
    const int code = cinfo->err->msg_code;
    if (level >= 0 || !error->watching || error->damaged || code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM ||
        code == JWRN_BOGUS_ICC)
        return;
    error->damaged = 1;
    error->damagedRow = cinfo->is_decompressor ? reinterpret_cast<j_decompress_ptr>(cinfo)->output_scanline : 0;
    (*cinfo->err->format_message)(cinfo, error->damage);
}

void jpegSilent(j_common_ptr) {}

void jpegInstallErrors(JpegError& error) {
    jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegOnError;
    error.manager.emit_message = jpegOnMessage;
    error.manager.output_message = jpegSilent;
    error.message[0] = '\0';
    error.watching = 0;
    error.damaged = 0;
    error.damagedRow = 0;
    error.damage[0] = '\0';
}

std::string libjpegSays(const JpegError& error) {
    return error.message[0] ? std::string("libjpeg: ") + error.message : std::string("libjpeg gave no reason");
}

// Decompressor and its error manager, destroyed together.
struct JpegReader {
    jpeg_decompress_struct cinfo{};
    JpegError error{};
    jpeg_progress_mgr progress{};
    JpegReader() {
        jpegInstallErrors(error);
        cinfo.err = &error.manager;
    }
    ~JpegReader() { jpeg_destroy_decompress(&cinfo); }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;
};

struct JpegWriter {
    jpeg_compress_struct cinfo{};
    JpegError error{};
    JpegWriter() {
        jpegInstallErrors(error);
        cinfo.err = &error.manager;
    }
    ~JpegWriter() { jpeg_destroy_compress(&cinfo); }
    JpegWriter(const JpegWriter&) = delete;
    JpegWriter& operator=(const JpegWriter&) = delete;
};

// Stops a decode whose scans never end (a hostile progressive file).
void jpegOnProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        auto* error = reinterpret_cast<JpegError*>(cinfo->err);
        std::snprintf(error->message, sizeof error->message, "more than %d scans", kMaxScans);
        std::longjmp(error->jump, 1);
    }
}

bool jpegReadHeader(JpegReader* reader, std::FILE* file) {
    if (setjmp(reader->error.jump)) return false;
    jpeg_create_decompress(&reader->cinfo);
    reader->cinfo.mem->max_memory_to_use = kMaxWorkMemory;
    reader->progress.progress_monitor = jpegOnProgress;
    reader->cinfo.progress = &reader->progress;
    jpeg_stdio_src(&reader->cinfo, file);
    jpeg_read_header(&reader->cinfo, TRUE);
    return true;
}

// Decodes the rows into `pixels`, counting in *rowsRead those libjpeg gave; false after a fatal error.
bool jpegReadRows(JpegReader* reader, std::uint8_t* pixels, std::size_t stride, int rgb, long* rowsRead) {
    if (setjmp(reader->error.jump)) return false;
    jpeg_decompress_struct* cinfo = &reader->cinfo;
    cinfo->out_color_space = rgb ? JCS_RGB : JCS_GRAYSCALE;
    reader->error.watching = 1;
    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = pixels + static_cast<std::size_t>(cinfo->output_scanline) * stride;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) break;
        *rowsRead = static_cast<long>(cinfo->output_scanline);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

// Plain settings of the file to write, filled before setjmp.
struct JpegSettings {
    int width, height, components, quality;
    int densityUnit, densityX, densityY;
};

bool jpegWriteRows(JpegWriter* writer, std::FILE* file, const JpegSettings* s, const std::uint8_t* pixels,
                   std::size_t stride) {
    if (setjmp(writer->error.jump)) return false;
    jpeg_compress_struct* cinfo = &writer->cinfo;
    jpeg_create_compress(cinfo);
    jpeg_stdio_dest(cinfo, file);
    cinfo->image_width = static_cast<JDIMENSION>(s->width);
    cinfo->image_height = static_cast<JDIMENSION>(s->height);
    cinfo->input_components = s->components;
    cinfo->in_color_space = s->components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, s->quality, TRUE);
    if (s->densityX > 0) {
        cinfo->write_JFIF_header = TRUE;
        cinfo->density_unit = static_cast<UINT8>(s->densityUnit);
        cinfo->X_density = static_cast<UINT16>(s->densityX);
        cinfo->Y_density = static_cast<UINT16>(s->densityY);
    }
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + static_cast<std::size_t>(cinfo->next_scanline) * stride);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

void jpegInfoFrom(const jpeg_decompress_struct& cinfo, ImageInfo& info) {
    info.width = static_cast<int>(cinfo.image_width);
    info.height = static_cast<int>(cinfo.image_height);
    info.bitsPerSample = cinfo.data_precision;
    info.samplesPerPixel = cinfo.num_components;
    bool grey = cinfo.num_components == 1;
    bool colour = cinfo.num_components == 3 && cinfo.jpeg_color_space != JCS_CMYK && cinfo.jpeg_color_space != JCS_YCCK;
    info.mode = cinfo.data_precision != 8 ? ColorMode::Other
                : grey                    ? ColorMode::Grey8
                : colour                  ? ColorMode::Rgb
                                          : ColorMode::Other;
    info.compression = Compression::Jpeg;
    info.layout = Layout{false, cinfo.image_height, 0, 0};
    if (cinfo.saw_JFIF_marker && cinfo.X_density > 0 && cinfo.Y_density > 0) {
        info.resolution.x = cinfo.X_density;
        info.resolution.y = cinfo.Y_density;
        info.resolution.unit = cinfo.density_unit == 1   ? ResolutionUnit::Inch
                               : cinfo.density_unit == 2 ? ResolutionUnit::Centimetre
                                                         : ResolutionUnit::None;
    }
    setDefaultPalette(info);  // a grey ramp: JPEG files hold no palette
}

bool jpegOpenHeader(JpegReader& reader, std::FILE* file, std::string& why) {
    if (!jpegReadHeader(&reader, file)) {
        why = "damaged JPEG header (" + libjpegSays(reader.error) + ")";
        return false;
    }
    return true;
}

}  // namespace

bool jpegReadInfo(const Source& source, ImageInfo& info, std::string& why) {
    JpegReader reader;
    if (!jpegOpenHeader(reader, source.file, why)) return false;
    jpegInfoFrom(reader.cinfo, info);
    return true;
}

bool jpegRead(const Source& source, Image& image, DamageReport& damage, std::string& why) {
    JpegReader reader;
    if (!jpegOpenHeader(reader, source.file, why)) return false;
    jpegInfoFrom(reader.cinfo, image);
    if (!allocatePixels(image, why)) return false;
    long rowsRead = 0;
    const bool finished =
        jpegReadRows(&reader, image.pixels.data(), image.stride, image.mode == ColorMode::Rgb, &rowsRead);
    const JpegError& e = reader.error;
    if (finished && !e.damaged && rowsRead == image.height) return true;
    if (!finished && rowsRead == 0) {
        damage.what = why = "damaged JPEG data (" + libjpegSays(e) + ")";  // not one row to keep
        return false;
    }
    // Rows from the first one the damage touched are not the picture: paper, when accepted.
    long goodRows = rowsRead;
    std::string said;
    if (e.damaged) {
        goodRows = std::min(goodRows, e.damagedRow);
        said = std::string("libjpeg: ") + e.damage;
    } else if (!finished) {
        said = libjpegSays(e);
    } else {
        said = format("libjpeg gave %ld of %d rows", rowsRead, image.height);
    }
    const std::string text = goodRows < image.height
                                 ? format("damaged JPEG data in row %ld (%s)", goodRows, said.c_str())
                                 : format("damaged JPEG data after the last row (%s)", said.c_str());
    damage.what = text;
    if (!damage.accept) {
        why = text;
        return false;
    }
    fillPaper(image, static_cast<std::size_t>(goodRows), static_cast<std::size_t>(image.height - goodRows));
    return true;
}

bool jpegWrite(const std::string& path, const Image& image, const WriteSettings& ws, std::string& why) {
    if (image.mode != ColorMode::Grey8 && image.mode != ColorMode::Rgb) {
        why = "colour mode not writable as JPEG";
        return false;
    }
    if (image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION) {
        why = format("JPEG files hold at most %ld pixels a side", static_cast<long>(JPEG_MAX_DIMENSION));
        return false;
    }
    JpegSettings s{};
    s.width = image.width;
    s.height = image.height;
    s.components = image.mode == ColorMode::Rgb ? 3 : 1;
    s.quality = std::clamp(ws.details.jpegQuality, 1, 100);
    if (image.resolution.x > 0 && image.resolution.y > 0) {
        s.densityUnit = image.resolution.unit == ResolutionUnit::Inch         ? 1
                        : image.resolution.unit == ResolutionUnit::Centimetre ? 2
                                                                              : 0;
        s.densityX = static_cast<int>(std::clamp<long>(std::lround(image.resolution.x), 1, 65535));
        s.densityY = static_cast<int>(std::clamp<long>(std::lround(image.resolution.y), 1, 65535));
    }
    FilePtr file = openFile(path, "wb", why);
    if (!file) {
        why = "cannot create the file: " + why;
        return false;
    }
    JpegWriter writer;
    if (!jpegWriteRows(&writer, file.get(), &s, image.pixels.data(), image.stride)) {
        const int code = errno;  // a write that failed left its reason here
        why = "cannot encode the image (" + libjpegSays(writer.error) + ")";
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
