// The G4 decoder and encoder against libtiff: the same code for the same rows, the same pixels
// for the same code, in both fill orders, strips of any height, with and without an end of
// block, and damaged or mutated data that the decoder either reads as libtiff does or refuses.
#include <random>

#include "g4_fixture.h"
#include "subhost/imagefile/g4_tables.h"

namespace {

using namespace g4_test;

// Rows coders get wrong: alternating pixels, all black, all white, a lone pixel at either end,
// runs just around the makeup boundaries (63, 64, 1728, 1792, 2560, 2624) and wide runs.
Bits hostileRows(int width) {
    Bits b(width, 14);
    for (int x = 0; x < width; x += 2) b.set(x, 0);
    b.box(0, 1, width, 2);
    b.set(0, 3);
    b.set(width - 1, 4);
    int x = 0;
    for (int run : {63, 64, 65, 1728, 1792, 2560, 2623, 2624, 2625, 5185}) {
        b.box(x, 5, x + run, 6);
        x += 2 * run;
        if (x >= width) x = 0;
    }
    for (int y = 6; y < 14; ++y)
        for (int xx = y % 3; xx < width; xx += 1 + (xx + y) % 7) b.set(xx, y);
    b.box(width / 2, 9, width, 10);
    b.box(0, 13, width - 1, 14);
    return b;
}

// Takes rows and a strip height, gives the image coded by the encoder here, strips joined.
std::vector<std::vector<std::uint8_t>> ourStrips(const Bits& b, std::uint32_t rps) {
    std::vector<std::vector<std::uint8_t>> out;
    for (auto& s : g4::encodeImage(b.rows(), b.height, rps).strips) out.push_back(s.bytes);
    return out;
}

TEST(G4Codec, CodesAsLibtiffAndDecodesLibtiffsCodeToItsPixels) {
    ScratchDir dir;
    const std::string file = dir.path("ref.tif");
    struct Case {
        Bits bits;
        std::uint32_t rps;
    };
    std::vector<Case> cases;
    for (int width : {1, 7, 8, 9, 63, 64, 2561, 2624, 6000, 11000}) cases.push_back({hostileRows(width), 0});
    cases.push_back({drawing(3000, 500, 1), 0});
    cases.push_back({drawing(3000, 500, 2), 64});
    cases.push_back({drawing(1234, 301, 3), 7});
    cases.push_back({drawing(1234, 40, 4), 1});
    for (const Case& c : cases) {
        SCOPED_TRACE("width " + std::to_string(c.bits.width) + ", rows per strip " + std::to_string(c.rps));
        writeLibtiffG4(file, c.bits, FileSettings{c.rps});
        const LibtiffView ref = libtiffRead(file);
        ASSERT_TRUE(ref.ok);
        ASSERT_EQ(ref.pixels, c.bits.data);
        const std::uint32_t rps = c.rps ? c.rps : static_cast<std::uint32_t>(c.bits.height);
        EXPECT_EQ(ourStrips(c.bits, rps), ref.strips) << "the encoder codes as libtiff does, byte for byte";
        // libtiff's code through the decoder here: the same pixels, and the same row offsets the
        // encoder here gives (the code is its own).
        const g4::ImageCode ours = g4::encodeImage(c.bits.rows(), c.bits.height, rps);
        std::vector<std::uint8_t> decoded(c.bits.data.size(), 0xA5);
        for (std::size_t s = 0; s < ref.strips.size(); ++s) {
            const int first = static_cast<int>(s * rps);
            const int rows = std::min<int>(static_cast<int>(rps), c.bits.height - first);
            g4::StripCode strip;
            std::string why;
            ASSERT_TRUE(g4::decodeStrip(ref.strips[s].data(), ref.strips[s].size(), c.bits.width, rows,
                                        decoded.data() + static_cast<std::size_t>(first) * c.bits.stride, c.bits.stride,
                                        strip, why))
                << why;
            EXPECT_TRUE(strip.canonical);
            EXPECT_EQ(strip.rowBits, ours.strips[s].rowBits);
        }
        EXPECT_EQ(decoded, c.bits.data);
    }
}

TEST(G4Codec, ReadsBothFillOrdersThroughTheDecoderAndWritesThemBackAsFound) {
    ScratchDir dir;
    const Bits b = drawing(2000, 300, 5);
    for (std::uint16_t order : {FILLORDER_MSB2LSB, FILLORDER_LSB2MSB}) {
        SCOPED_TRACE("fill order " + std::to_string(order));
        const std::string file = dir.path("order" + std::to_string(order) + ".tif");
        writeLibtiffG4(file, b, FileSettings{50, order, true, GROUP4OPT_UNCOMPRESSED});
        ImageResult read = readImage(file);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(packedRows(read.image), b.data);
        ASSERT_NE(read.image.g4Code, nullptr) << "decoded by the decoder that keeps row offsets";
        EXPECT_EQ(read.image.details.group4Options, static_cast<std::uint32_t>(GROUP4OPT_UNCOMPRESSED));

        Bits edited = b;
        edited.box(100, 120, 900, 180, false);
        std::memcpy(read.image.pixels.data(), edited.data.data(), edited.data.size());
        g4::RowSpans changed;
        changed.add(120, 179);
        const WriteStatus status = writeImageEdited(file, read.image, &changed);
        ASSERT_EQ(status.status, kStatusOk) << status.error;
        EXPECT_TRUE(status.spliced);
        const LibtiffView back = libtiffRead(file);
        ASSERT_TRUE(back.ok);
        EXPECT_EQ(back.pixels, edited.data);
        EXPECT_EQ(back.fillOrder, order);
        EXPECT_TRUE(back.hasT6Options);
        EXPECT_EQ(back.t6Options, static_cast<std::uint32_t>(GROUP4OPT_UNCOMPRESSED));
        EXPECT_EQ(back.description, "sheet 7 of 9");
        auto expected = ourStrips(edited, 50);
        if (order == FILLORDER_LSB2MSB)
            for (auto& s : expected) g4::reverseBits(s.data(), s.size());
        EXPECT_EQ(back.strips, expected);
    }
}

// Takes rows, gives them coded as the encoder here codes them but without the end of block.
std::vector<std::uint8_t> withoutEndOfBlock(const Bits& b) {
    g4::BitSink sink;
    std::vector<std::uint64_t> rowBits;
    g4::encodeRows(b.rows(), 0, b.height, nullptr, sink, rowBits);
    return sink.finish();
}

// Takes a colour and a run, appends its codes (2560s first, then a makeup code, then the rest).
void putRun(g4::BitSink& sink, int colour, int run) {
    for (; run >= 2624; run -= 2560) {
        const auto c = g4::detail::runCode(colour, 2560);
        sink.put(c.bits, c.length);
    }
    if (run >= 64) {
        const auto c = g4::detail::runCode(colour, run & ~63);
        sink.put(c.bits, c.length);
        run &= 63;
    }
    const auto c = g4::detail::runCode(colour, run);
    sink.put(c.bits, c.length);
}

// Takes rows, gives them coded as a simpler coder might: every pair of runs in horizontal mode,
// never a pass or vertical code; valid G4 that libtiff reads, but not what the encoder here gives.
std::vector<std::uint8_t> horizontalOnly(const Bits& b) {
    g4::BitSink sink;
    for (int y = 0; y < b.height; ++y) {
        std::vector<int> changes;
        bool ink = false;
        for (int x = 0; x < b.width; ++x) {
            const bool here =
                (b.data[static_cast<std::size_t>(y) * b.stride + static_cast<std::size_t>(x / 8)] >> (7 - x % 8)) & 1;
            if (here != ink) changes.push_back(x), ink = here;
        }
        changes.push_back(b.width);
        changes.push_back(b.width);
        int a0 = 0;
        for (std::size_t i = 0; a0 < b.width; i += 2) {
            sink.put(0b001, 3);
            putRun(sink, 0, changes[i] - a0);
            putRun(sink, 1, changes[i + 1] - changes[i]);
            a0 = changes[i + 1];
        }
    }
    sink.put(0x001, 12);
    sink.put(0x001, 12);
    return sink.finish();
}

// Takes rows and their code, writes a one-strip G4 file holding that code as it is.
void writeRawG4(const std::string& path, const Bits& b, const std::vector<std::uint8_t>& code) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, b.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, b.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, b.height);
    TIFFWriteRawStrip(tif, 0, const_cast<std::uint8_t*>(code.data()), static_cast<tmsize_t>(code.size()));
    TIFFClose(tif);
}

// Code from other coders (no end of block; horizontal mode where a vertical or pass code would
// do) is read through the decoder here, but its first write-back codes the whole image, since
// kept rows would not be what a whole re-encode gives; the next edit keeps the other rows' code.
TEST(G4Codec, CodeFromOtherCodersIsReadButWrittenWholeOnce) {
    ScratchDir dir;
    const std::string file = dir.path("other.tif");
    for (int coder = 0; coder < 2; ++coder) {
        SCOPED_TRACE(coder == 0 ? "no end of block" : "horizontal mode only");
        Bits b = drawing(2700, 200, 6);
        writeRawG4(file, b, coder == 0 ? withoutEndOfBlock(b) : horizontalOnly(b));
        ASSERT_TRUE(libtiffRead(file).ok) << "libtiff reads it without a word";
        ImageResult read = readImage(file);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(packedRows(read.image), b.data);
        ASSERT_NE(read.image.g4Code, nullptr);
        EXPECT_FALSE(read.image.g4Code->strips[0].canonical);

        g4::RowSpans changed;
        changed.add(10, 10);
        b.box(0, 10, 1500, 11);
        std::memcpy(read.image.pixels.data(), b.data.data(), b.data.size());
        WriteStatus status = writeImageEdited(file, read.image, &changed);
        ASSERT_EQ(status.status, kStatusOk) << status.error;
        EXPECT_FALSE(status.spliced);
        EXPECT_EQ(libtiffRead(file).strips, ourStrips(b, 200));

        b.box(0, 150, 1500, 151, false);
        std::memcpy(read.image.pixels.data(), b.data.data(), b.data.size());
        changed = {};
        changed.add(150, 150);
        status = writeImageEdited(file, read.image, &changed);
        ASSERT_EQ(status.status, kStatusOk) << status.error;
        EXPECT_TRUE(status.spliced);
        const LibtiffView back = libtiffRead(file);
        EXPECT_EQ(back.pixels, b.data);
        EXPECT_EQ(back.strips, ourStrips(b, 200));
    }
}

// A black run of 2090 coded as 2048 + 42 (ours and libtiff's) or as 1728 + 320 + 42 (valid too):
// both decode to the same row, but only the first is taken for the code a re-encode gives.
TEST(G4Codec, LongRunsCodedOtherwiseAreNotTakenForOurCode) {
    Bits b(2200, 1);
    b.box(10, 0, 2100, 1);
    for (bool ours : {true, false}) {
        g4::BitSink sink;
        sink.put(0b001, 3);  // horizontal: white 10, black 2090
        putRun(sink, 0, 10);
        for (int makeup : ours ? std::vector<int>{2048} : std::vector<int>{1728, 320}) {
            const auto c = g4::detail::runCode(1, makeup);
            sink.put(c.bits, c.length);
        }
        const auto term = g4::detail::runCode(1, 42);
        sink.put(term.bits, term.length);
        sink.put(0b1, 1);  // vertical 0 to the row's end
        sink.put(0x001, 12);
        sink.put(0x001, 12);
        const std::vector<std::uint8_t> code = sink.finish();
        std::vector<std::uint8_t> row(b.stride);
        g4::StripCode strip;
        std::string why;
        ASSERT_TRUE(g4::decodeStrip(code.data(), code.size(), b.width, 1, row.data(), b.stride, strip, why)) << why;
        EXPECT_EQ(row, b.data);
        EXPECT_EQ(strip.canonical, ours);
        if (ours) EXPECT_EQ(code, ourStrips(b, 1).front());
    }
}

TEST(G4Codec, DamagedCodeIsLeftToLibtiffWhichSaysWhere) {
    ScratchDir dir;
    const std::string file = dir.path("cut.tif");
    const Bits b = drawing(1500, 400, 7);
    writeLibtiffG4(file, b);
    // Cut the strip's code in half (the strip byte count still promises the whole).
    std::vector<std::uint8_t> bytes = fileBytes(file);
    const LibtiffView whole = libtiffRead(file);
    const auto at = std::search(bytes.begin(), bytes.end(), whole.strips[0].begin(), whole.strips[0].end());
    ASSERT_NE(at, bytes.end());
    const std::size_t mid = static_cast<std::size_t>(at - bytes.begin()) + whole.strips[0].size() / 2;
    for (std::size_t i = mid; i < mid + 64; ++i) bytes[i] = 0;
    writeBytes(file, bytes);
    const ImageResult refused = readImage(file);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("damaged CCITT data in row"), std::string::npos) << refused.error;
    ReadOptions accept;
    accept.acceptDamaged = true;
    const ImageResult kept = readImage(file, accept);
    ASSERT_TRUE(kept.ok) << kept.error;
    EXPECT_FALSE(kept.damage.empty());
    EXPECT_EQ(kept.image.g4Code, nullptr) << "no row offsets for damaged code: its write-back is whole";
}

// Mutation fuzz: damaged code is refused, or decodes to exactly what libtiff decodes without a
// warning; never a read past the strip (the sanitizer build runs this too).
TEST(G4Codec, MutatedCodeIsRefusedOrDecodedAsLibtiffDoes) {
    ScratchDir dir;
    const std::string file = dir.path("fuzz.tif");
    const Bits b = drawing(700, 90, 8);
    const g4::StripCode good = g4::encodeStrip(b.rows(), 0, b.height);
    std::mt19937 random(20);
    int accepted = 0, refused = 0;
    for (int round = 0; round < 600; ++round) {
        std::vector<std::uint8_t> code = good.bytes;
        const int kind = round % 4;
        if (kind == 3) {
            code.resize(random() % code.size());
        } else {
            for (int k = 0; k <= kind; ++k) {
                const std::size_t i = random() % code.size();
                code[i] = static_cast<std::uint8_t>(kind == 0 ? code[i] ^ (1u << (random() % 8)) : random());
            }
        }
        std::vector<std::uint8_t> exact(code);  // the decoder gets no slack past the data
        std::vector<std::uint8_t> ours(b.data.size());
        g4::StripCode strip;
        std::string why;
        const bool ok =
            g4::decodeStrip(exact.data(), exact.size(), b.width, b.height, ours.data(), b.stride, strip, why);
        if (!ok) {
            EXPECT_FALSE(why.empty());
            ++refused;
            continue;
        }
        ++accepted;
        EXPECT_LE(strip.rowBits.back(), exact.size() * 8);
        writeRawG4(file, b, code);
        const LibtiffView ref = libtiffRead(file);
        EXPECT_TRUE(ref.ok) << "round " << round << ": libtiff warns where the decoder here did not";
        EXPECT_EQ(ref.pixels, ours) << "round " << round;
    }
    EXPECT_GT(refused, 100);
    EXPECT_GT(accepted, 10);
}

}  // namespace
