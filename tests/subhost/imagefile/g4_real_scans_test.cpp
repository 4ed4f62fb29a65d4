// The G4 coder on pages people scanned (tests/data/scans: text, music, a form, tickets, two
// strips with T6Options, both polarities) and on the busy A0 sheet: the decoder here gives
// libtiff's pixels and every row's offset; seeded random edits of every kind (single rows,
// blocks at the top, middle and bottom, the first and last row, whole-width rows, several
// blocks, rows no coder likes) write a file libtiff reads back as exactly the edited pixels,
// byte for byte the file a whole re-encode writes, with every other tag kept; and damaged scan
// code is refused or read as libtiff reads it, never past the strip.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>

#include "bench/sheets.h"
#include "g4_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define G4SCANS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define G4SCANS_SANITIZED 1
#endif
#endif
#ifndef G4SCANS_SANITIZED
#define G4SCANS_SANITIZED 0
#endif

namespace {

using namespace g4_test;

// Takes nothing, gives the paths of the scans, sorted (directory order differs between machines).
std::vector<std::string> scanFiles() {
    std::vector<std::string> paths;
    for (const auto& entry : fs::directory_iterator(fs::path(PXMEND_SOURCE_DIR) / "tests" / "data" / "scans"))
        if (entry.path().extension() == ".tif") paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Takes a file name, gives a seed made from it alone (the same on every machine).
std::uint32_t nameSeed(const std::string& name) {
    std::uint32_t h = 2166136261u;
    for (const unsigned char c : name) h = (h ^ c) * 16777619u;
    return h;
}

// The tags of a file a write-back must keep as it found them.
struct KeptTags {
    std::uint32_t width = 0, height = 0, rowsPerStrip = 0, strips = 0;
    std::uint16_t compression = 0, photometric = 0, fillOrder = 0, bitsPerSample = 0, resolutionUnit = 0;
    std::uint32_t t6Options = 0;  // as libtiff gives it (0 where the tag is absent)
    bool t6Tagged = false;        // the tag is there (a T6Options of 0 written out is kept too)
    float xResolution = 0, yResolution = 0;
    bool operator==(const KeptTags&) const = default;
};

// Takes a path, gives its kept tags as libtiff reads them.
KeptTags keptTags(const std::string& path) {
    KeptTags t;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    EXPECT_NE(tif, nullptr) << path;
    if (!tif) return t;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &t.rowsPerStrip);
    t.strips = TIFFNumberOfStrips(tif);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &t.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &t.fillOrder);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &t.bitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &t.resolutionUnit);
    TIFFGetFieldDefaulted(tif, TIFFTAG_GROUP4OPTIONS, &t.t6Options);
    std::uint32_t t6 = 0;
    t.t6Tagged = TIFFGetField(tif, TIFFTAG_GROUP4OPTIONS, &t6) != 0;
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.xResolution);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.yResolution);
    TIFFClose(tif);
    return t;
}

std::ostream& operator<<(std::ostream& os, const KeptTags& t) {
    return os << t.width << "x" << t.height << " rps " << t.rowsPerStrip << " strips " << t.strips << " compression "
              << t.compression << " photometric " << t.photometric << " fill " << t.fillOrder << " bps "
              << t.bitsPerSample << " T6 " << t.t6Options << (t.t6Tagged ? " (tagged)" : "") << " res " << t.xResolution
              << "," << t.yResolution << " unit " << t.resolutionUnit;
}

// How an edit paints the pixels of a box.
enum class Paint { Ink, Erase, Invert, Speckle, Alternate };

// Takes rows, a box (clipped to the rows), a paint and a generator, paints the box and notes its rows.
void paintBox(Bits& b, g4::RowSpans& changed, int x0, int y0, int x1, int y1, Paint paint, std::mt19937& random) {
    x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, b.width), y1 = std::min(y1, b.height);
    if (x0 >= x1 || y0 >= y1) return;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * b.stride + static_cast<std::size_t>(x / 8);
            const bool now = (b.data[at] & (0x80 >> (x % 8))) != 0;
            switch (paint) {
            case Paint::Ink:
                b.set(x, y, true);
                break;
            case Paint::Erase:
                b.set(x, y, false);
                break;
            case Paint::Invert:
                b.set(x, y, !now);
                break;
            case Paint::Speckle:
                b.set(x, y, random() % 7 == 0);
                break;
            case Paint::Alternate:
                b.set(x, y, (x + y) % 2 == 0);
                break;
            }
        }
    changed.add(y0, y1 - 1);
}

// One kind of edit: its name and what it does, placed by the generator.
struct EditKind {
    const char* name;
    std::function<void(Bits&, g4::RowSpans&, std::mt19937&)> apply;
};

// Takes a generator, gives a number in [low, high] (high below low gives low).
int between(std::mt19937& random, int low, int high) {
    return high <= low ? low : low + static_cast<int>(random() % static_cast<unsigned>(high - low + 1));
}

// Takes a generator, gives a paint that changes what a box holds (speckle and alternate rarely keep it).
Paint anyPaint(std::mt19937& random) {
    constexpr Paint kPaints[] = {Paint::Ink, Paint::Erase, Paint::Invert, Paint::Speckle, Paint::Alternate};
    return kPaints[random() % 5];
}

// Takes a generator and the rows, paints a random box within rows y0..y1 (exclusive end).
void randomBoxIn(Bits& b, g4::RowSpans& c, std::mt19937& r, int y0, int y1) {
    const int x0 = between(r, 0, b.width - 1), x1 = between(r, x0 + 1, b.width);
    paintBox(b, c, x0, y0, x1, y1, anyPaint(r), r);
}

// The edits a user makes of a scan, placed at random by the generator; rowsPerStrip puts one of
// the blocks across a strip boundary where there is one.
std::vector<EditKind> editKinds(std::uint32_t rowsPerStrip) {
    const int rps = static_cast<int>(rowsPerStrip);
    return {
        {"single rows",
         [](Bits& b, g4::RowSpans& c, std::mt19937& r) {
             for (int i = 0; i < 3; ++i) {
                 const int y = between(r, 1, b.height - 2);
                 randomBoxIn(b, c, r, y, y + 1);
             }
         }},
        {"block at the top",
         [](Bits& b, g4::RowSpans& c, std::mt19937& r) { randomBoxIn(b, c, r, 0, between(r, 2, b.height / 8)); }},
        {"block in the middle",
         [](Bits& b, g4::RowSpans& c, std::mt19937& r) {
             const int y = between(r, b.height / 3, b.height / 2);
             randomBoxIn(b, c, r, y, y + between(r, 1, b.height / 6));
         }},
        {"block at the bottom",
         [](Bits& b, g4::RowSpans& c, std::mt19937& r) {
             randomBoxIn(b, c, r, b.height - between(r, 2, b.height / 8), b.height);
         }},
        {"first and last row",
         [](Bits& b, g4::RowSpans& c, std::mt19937& r) {
             randomBoxIn(b, c, r, 0, 1);
             randomBoxIn(b, c, r, b.height - 1, b.height);
         }},
        {"whole-width rows",
         [](Bits& b, g4::RowSpans& c, std::mt19937& r) {
             const int y = between(r, 0, b.height - 6);
             paintBox(b, c, 0, y, b.width, y + between(r, 1, 5), r() % 2 ? Paint::Invert : Paint::Speckle, r);
         }},
        {"several blocks",
         [rps](Bits& b, g4::RowSpans& c, std::mt19937& r) {
             for (int i = 0; i < 4; ++i) {
                 const int y = between(r, 0, b.height - 1);
                 randomBoxIn(b, c, r, y, y + between(r, 1, 40));
             }
             if (rps < b.height) randomBoxIn(b, c, r, rps - 2, rps + 2);  // across the strip boundary
         }},
        {"alternating pixels",
         [](Bits& b, g4::RowSpans& c, std::mt19937& r) {
             const int y = between(r, 1, b.height - 4);
             paintBox(b, c, 0, y, b.width, y + between(r, 1, 3), Paint::Alternate, r);
             paintBox(b, c, 0, 0, b.width, 1, Paint::Alternate, r);
         }},
        {"all black rows",
         [](Bits& b, g4::RowSpans& c, std::mt19937& r) {
             const int y = between(r, 1, b.height - 4);
             paintBox(b, c, 0, y, b.width, y + between(r, 1, 3), Paint::Ink, r);
             paintBox(b, c, 0, b.height - 1, b.width, b.height, Paint::Ink, r);
         }},
        {"all white rows",
         [](Bits& b, g4::RowSpans& c, std::mt19937& r) {
             const int y = between(r, 1, b.height - 4);
             paintBox(b, c, 0, y, b.width, y + between(r, 1, 3), Paint::Erase, r);
             paintBox(b, c, 0, 0, b.width, 1, Paint::Erase, r);
         }},
    };
}

// Takes a decoded image, gives its rows as Bits.
Bits bitsOf(const Image& image) {
    Bits b(image.width, image.height);
    b.data = packedRows(image);
    return b;
}

// Takes an image and rows of its size, puts the rows into its pixels.
void putBits(Image& image, const Bits& b) {
    for (int y = 0; y < b.height; ++y)
        std::memcpy(image.pixels.data() + static_cast<std::size_t>(y) * image.stride,
                    b.data.data() + static_cast<std::size_t>(y) * b.stride, b.stride);
}

// What the edits of one file came to.
struct EditTally {
    int edits = 0, spliced = 0;
};

// Takes a G4 file, a folder, an edit kind and a generator: edits the pixels read from the file,
// writes them back re-coding only the changed rows, and checks the file against libtiff, a whole
// re-encode and the tags of the file read.
void checkEdit(const std::string& source, const ScratchDir& dir, const ImageResult& read, const EditKind& kind,
               std::mt19937& random, EditTally& tally) {
    SCOPED_TRACE(fs::path(source).filename().string() + ": " + kind.name);
    const std::string file = dir.path("edited.tif"), whole = dir.path("whole.tif");
    fs::copy_file(source, file, fs::copy_options::overwrite_existing);
    Image image = read.image;
    Bits edited = bitsOf(image);
    g4::RowSpans changed;
    kind.apply(edited, changed, random);
    ASSERT_FALSE(changed.spans.empty());
    putBits(image, edited);

    const g4::SpliceCost cost =
        g4::estimateSplice(*image.g4Code, image.width, image.height,
                           std::min<std::uint32_t>(image.layout.rowsPerStrip, image.height), changed);
    const WriteStatus status = writeImageEdited(file, image, &changed);
    ASSERT_EQ(status.status, kStatusOk) << status.error;
    EXPECT_EQ(status.spliced, cost.possible && cost.splice < cost.full);
    Image again = image;
    again.g4Code = nullptr;
    ASSERT_EQ(writeImageEdited(whole, again, nullptr).status, kStatusOk);

    EXPECT_TRUE(fileBytes(file) == fileBytes(whole)) << "not the file a whole re-encode writes";
    const LibtiffView back = libtiffRead(file);
    ASSERT_TRUE(back.ok);
    EXPECT_TRUE(back.pixels == edited.data) << "libtiff reads other pixels than the edit made";
    EXPECT_EQ(keptTags(file), keptTags(source));
    ++tally.edits;
    tally.spliced += status.spliced ? 1 : 0;
}

// Every G4 scan is read by the decoder here (not left to libtiff) to libtiff's pixels, its code
// kept as found with each row's offset. The scans were coded by libtiff, so each is taken for
// the code the encoder here gives, byte for byte with the same offsets; and every offset starts
// a row that decodes alone from it.
TEST(G4RealScans, DecodeToLibtiffsPixelsWithEveryRowsOffset) {
    const std::vector<std::string> scans = scanFiles();
    ASSERT_GE(scans.size(), 13u);
    int canonical = 0, twoStrips = 0, minIsBlack = 0;
    for (const std::string& path : scans) {
        SCOPED_TRACE(path);
        const LibtiffView ref = libtiffRead(path);
        ASSERT_TRUE(ref.ok);
        const ImageResult read = readImage(path);
        ASSERT_TRUE(read.ok) << read.error;
        ASSERT_NE(read.image.g4Code, nullptr) << "left to libtiff";
        EXPECT_TRUE(packedRows(read.image) == ref.pixels) << "other pixels than libtiff's";
        const g4::ImageCode& code = *read.image.g4Code;
        ASSERT_EQ(code.strips.size(), ref.strips.size());
        const Bits rows = bitsOf(read.image);
        const g4::ImageCode ours = g4::encodeImage(rows.rows(), rows.height, code.rowsPerStrip);
        bool allCanonical = true;
        for (std::size_t s = 0; s < code.strips.size(); ++s) {
            const g4::StripCode& strip = code.strips[s];
            const int count = std::min<int>(static_cast<int>(code.rowsPerStrip),
                                            code.height - static_cast<int>(s * code.rowsPerStrip));
            EXPECT_TRUE(strip.bytes == ref.strips[s]) << "strip " << s << " not kept as found";
            ASSERT_EQ(strip.rowBits.size(), static_cast<std::size_t>(count) + 1) << "strip " << s;
            EXPECT_EQ(strip.rowBits.front(), 0u);
            EXPECT_LE(strip.rowBits.back(), strip.bytes.size() * 8);
            EXPECT_TRUE(std::is_sorted(strip.rowBits.begin(), strip.rowBits.end()));
            allCanonical = allCanonical && strip.canonical;
            if (strip.canonical) {
                EXPECT_TRUE(strip.bytes == ours.strips[s].bytes) << "strip " << s << " taken for the encoder's code";
                EXPECT_TRUE(strip.rowBits == ours.strips[s].rowBits) << "strip " << s;
            }
            // Each row's code after the row above it, coded alone, decodes to that row: a G4 row
            // starting anywhere else would not.
            for (int r = 1; r < count; r += std::max(1, count / 9)) {
                const std::size_t row = s * code.rowsPerStrip + static_cast<std::size_t>(r);
                g4::BitSink sink;
                std::vector<std::uint64_t> bits;
                g4::encodeRows(rows.rows(), static_cast<int>(row) - 1, 1, nullptr, sink, bits);
                sink.copy(strip.bytes.data(), strip.bytes.size(), strip.rowBits[static_cast<std::size_t>(r)],
                          strip.rowBits[static_cast<std::size_t>(r) + 1]);
                const g4::StripCode two = g4::finishStrip(sink, bits);
                std::vector<std::uint8_t> out(2 * rows.stride);
                g4::StripCode again;
                std::string why;
                ASSERT_TRUE(g4::decodeStrip(two.bytes.data(), two.bytes.size(), rows.width, 2, out.data(), rows.stride,
                                            again, why))
                    << "strip " << s << " row " << r << ": " << why;
                EXPECT_TRUE(std::equal(out.begin() + static_cast<long>(rows.stride), out.end(),
                                       rows.data.begin() + static_cast<long>(row * rows.stride)))
                    << "strip " << s << " row " << r;
            }
        }
        canonical += allCanonical ? 1 : 0;
        twoStrips += code.strips.size() > 1 ? 1 : 0;
        minIsBlack += read.image.photometric == Photometric::MinIsBlack ? 1 : 0;
    }
    EXPECT_EQ(canonical, static_cast<int>(scans.size())) << "libtiff coded them all, as the encoder here codes";
    EXPECT_EQ(twoStrips, 1) << "ortiz-02.tif";
    EXPECT_EQ(minIsBlack, 3);
    std::printf("[ scans    ] %d G4 scans, %d coded as the encoder here codes them\n", static_cast<int>(scans.size()),
                canonical);
}

// Seeded random edits of every kind on every scan splice to the file a whole re-encode writes,
// which libtiff reads as exactly the edited pixels; every other tag is kept.
TEST(G4RealScans, EditsOfEveryKindWriteTheWholeReencodeByteForByte) {
    ScratchDir dir;
    EditTally tally;
    const auto start = std::chrono::steady_clock::now();
    // Under the sanitizers, which run several times slower, each scan takes every third kind
    // in turn: every kind still edits four or five scans.
    const std::size_t every = G4SCANS_SANITIZED ? 3 : 1;
    std::size_t turn = 0;
    for (const std::string& path : scanFiles()) {
        const ImageResult read = readImage(path);
        ASSERT_TRUE(read.ok) << read.error;
        ASSERT_NE(read.image.g4Code, nullptr);
        std::mt19937 random(nameSeed(fs::path(path).filename().string()));
        for (const EditKind& kind : editKinds(read.image.layout.rowsPerStrip))
            if (turn++ % every == 0) checkEdit(path, dir, read, kind, random, tally);
    }
    EXPECT_GE(tally.spliced * 10, tally.edits * 8) << "most edits of a scan should keep the other rows' code";
    std::printf("[ scans    ] %d edits, %d spliced, %.2f s\n", tally.edits, tally.spliced,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

// The busy A0 sheet (a band of it under the sanitizers, which run several times slower) is read
// by the decoder here to its pixels, and edits there keep the code of every other row.
TEST(G4BusySheet, EditsWriteTheWholeReencodeByteForByte) {
    const auto start = std::chrono::steady_clock::now();
    const pxbench::Sheet sheet = G4SCANS_SANITIZED ? pxbench::makeBusyPart(0, 0, 5000, pxbench::kSheetWidth, 1200)
                                                   : pxbench::makeSheet(pxbench::SheetKind::Busy);
    ASSERT_FALSE(sheet.bits.empty());
    ScratchDir dir;
    const std::string path = dir.path("busy.tif");
    std::string error;
    ASSERT_TRUE(pxbench::writeSheetG4(sheet, path, &error)) << error;
    const ImageResult read = readImage(path);
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_NE(read.image.g4Code, nullptr) << "left to libtiff";
    ASSERT_TRUE(packedRows(read.image) == sheet.bits);
    std::mt19937 random(nameSeed("busy"));
    EditTally tally;
    for (const EditKind& kind : editKinds(read.image.layout.rowsPerStrip))
        if (std::string(kind.name) == "several blocks" || std::string(kind.name) == "alternating pixels")
            checkEdit(path, dir, read, kind, random, tally);
    EXPECT_EQ(tally.spliced, tally.edits) << "a few rows of an A0 sheet re-coded, not the whole sheet";
    std::printf("[ sheet    ] %d x %d, %d edits, %.2f s\n", sheet.width, sheet.height, tally.edits,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

// Takes a path, an image size, a photometric and a strip's code, writes a one-strip G4 file
// holding that code as it is.
void writeRawStrip(const std::string& path, int width, int height, std::uint16_t photometric,
                   const std::vector<std::uint8_t>& code) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    TIFFWriteRawStrip(tif, 0, const_cast<std::uint8_t*>(code.data()), static_cast<tmsize_t>(code.size()));
    TIFFClose(tif);
}

// A strip of a scan to damage: its code, each row's offset, its size and polarity.
struct ScanStrip {
    std::string name;
    g4::StripCode code;
    int width = 0, rows = 0;
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
};

// Takes nothing, gives the strips of the small scans, the short second strip of the two-strip one
// and bands of text from a page in each polarity (coded here, as libtiff codes them), whose last
// rows hold ink.
std::vector<ScanStrip> damageSeeds() {
    std::vector<ScanStrip> seeds;
    for (const std::string& path : scanFiles()) {
        const std::string name = fs::path(path).filename().string();
        const bool twoStrips = name == "ortiz-02.tif", band = name == "feyn.tif" || name == "witten.tif";
        if (fs::file_size(path) > 8000 && !twoStrips && !band) continue;
        const ImageResult read = readImage(path);
        EXPECT_TRUE(read.ok && read.image.g4Code) << name;
        if (!read.ok || !read.image.g4Code) continue;
        const g4::ImageCode& code = *read.image.g4Code;
        const auto photometric = static_cast<std::uint16_t>(
            read.image.photometric == Photometric::MinIsBlack ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE);
        if (band) {
            const Bits rows = bitsOf(read.image);
            seeds.push_back({name + " band", g4::encodeStrip(rows.rows(), 1013, 37), code.width, 37, photometric});
            continue;
        }
        const std::size_t s = twoStrips ? 1 : 0;
        const int count =
            std::min<int>(static_cast<int>(code.rowsPerStrip), code.height - static_cast<int>(s * code.rowsPerStrip));
        seeds.push_back({name, code.strips[s], code.width, count, photometric});
    }
    return seeds;
}

// Takes a strip and a generator, gives its code damaged once: a bit flipped, bytes changed,
// cut short, a row's code lost or repeated, or bytes swapped.
std::vector<std::uint8_t> damaged(const ScanStrip& strip, std::mt19937& random) {
    const g4::StripCode& c = strip.code;
    std::vector<std::uint8_t> code = c.bytes;
    const std::size_t row = random() % static_cast<unsigned>(strip.rows);
    const unsigned kind = random() % 6;
    switch (kind) {
    case 0:
        code[random() % code.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        break;
    case 1:
        for (int k = 0; k < 3; ++k) code[random() % code.size()] = static_cast<std::uint8_t>(random());
        break;
    case 2:
        code.resize(random() % code.size());
        break;
    case 3:    // a row's code lost
    case 4: {  // a row's code there twice
        const std::size_t lost = kind == 3 ? 1 : 0;
        g4::BitSink sink;
        sink.copy(c.bytes.data(), c.bytes.size(), 0, c.rowBits[row + 1 - lost]);
        sink.copy(c.bytes.data(), c.bytes.size(), c.rowBits[row + lost], c.bytes.size() * 8);
        code = sink.finish();
        break;
    }
    default: {
        const std::size_t i = random() % code.size(), j = random() % code.size();
        std::swap(code[i], code[j]);
        code[i] ^= 0x10;
    }
    }
    return code;
}

// What the decoder here made of damaged code next to libtiff.
struct DamageTally {
    int refused = 0, accepted = 0;
};

// Takes a seed's size and polarity, damaged code and the rows to decode: the decoder here refuses
// the code with a reason, or reads it, within the data, to the pixels libtiff reads without a warning.
void checkDamaged(const ScanStrip& seed, const std::vector<std::uint8_t>& code, int rows, const std::string& file,
                  const std::string& label, DamageTally& tally) {
    std::vector<std::uint8_t> exact(code);  // the decoder gets no slack past the data
    const std::size_t stride = (static_cast<std::size_t>(seed.width) + 7) / 8;
    std::vector<std::uint8_t> ours(stride * static_cast<std::size_t>(rows));
    g4::StripCode strip;
    std::string why;
    if (!g4::decodeStrip(exact.data(), exact.size(), seed.width, rows, ours.data(), stride, strip, why)) {
        EXPECT_FALSE(why.empty());
        ++tally.refused;
        return;
    }
    ++tally.accepted;
    EXPECT_LE(strip.rowBits.back(), exact.size() * 8) << label;
    writeRawStrip(file, seed.width, rows, seed.photometric, code);
    const LibtiffView ref = libtiffRead(file);
    EXPECT_TRUE(ref.ok) << label << ": libtiff warns where the decoder here did not";
    EXPECT_TRUE(ref.pixels == ours) << label << ": other pixels than libtiff's";
}

// Damaged scan code (two strips and both polarities among the seeds) is refused, or read to
// exactly the pixels libtiff reads without a warning; never past the strip (the sanitizer build
// gives the decoder no slack past the data). Code cut inside its last row, where the lost bits
// of the row's last code were zeros, is as short as code can be cut unnoticed: it is refused too.
TEST(G4RealScans, DamagedScanCodeIsRefusedOrReadAsLibtiffReadsIt) {
    ScratchDir dir;
    const std::string file = dir.path("damaged.tif");
    const std::vector<ScanStrip> seeds = damageSeeds();
    ASSERT_GE(seeds.size(), 7u);
    DamageTally tally;
    int cut = 0;
    for (const ScanStrip& seed : seeds) {
        const std::vector<std::uint64_t>& at = seed.code.rowBits;
        for (int last = 0; last < std::min(seed.rows, 40); ++last) {
            const std::uint64_t from = at[static_cast<std::size_t>(last)], to = at[static_cast<std::size_t>(last) + 1];
            for (std::uint64_t bytes = (to - 1) / 8; bytes * 8 > from && bytes + 2 >= (to - 1) / 8; --bytes) {
                const std::vector<std::uint8_t> code(seed.code.bytes.begin(),
                                                     seed.code.bytes.begin() + static_cast<long>(bytes));
                checkDamaged(seed, code, last + 1, file, seed.name + " cut in row " + std::to_string(last), tally);
                ++cut;
            }
        }
    }
    EXPECT_EQ(tally.accepted, 0) << "code cut inside its last row read as whole";
    std::mt19937 random(20261207);
    const int cases = G4SCANS_SANITIZED ? 300 : 900;
    for (int round = 0; round < cases; ++round) {
        const ScanStrip& seed = seeds[static_cast<std::size_t>(round) % seeds.size()];
        checkDamaged(seed, damaged(seed, random), seed.rows, file, seed.name + " round " + std::to_string(round),
                     tally);
    }
    EXPECT_GT(tally.refused, (cut + cases) / 3);
    EXPECT_GT(tally.accepted, 10);
    std::printf(
        "[ damaged  ] %d seeds, %d cut in the last row, %d damaged at random: %d refused, %d read as "
        "libtiff reads them\n",
        static_cast<int>(seeds.size()), cut, cases, tally.refused, tally.accepted);
}

}  // namespace
