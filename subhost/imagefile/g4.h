// CCITT Group 4 (T.6) coding of monochrome rows, beside libtiff: a table-driven decoder that
// notes the bit at which each row's code starts, an encoder of a run of rows against the row
// above them, and the splice that re-codes only the rows an edit changed. In G4 each row is coded
// against the row above it alone, and rows are not byte-aligned, so after an edit of rows y0..y1
// the code above y0 is kept, rows y0..y1+1 are coded anew and the code below is copied shifted to
// its new bit offset.
//
// Bits are most significant first in every buffer here; files whose fill order is least
// significant first are reversed on the way in and out. A 1 bit is a black (coded) pixel, as
// libtiff gives them; photometric is the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace subhost::imagefile::g4 {

// The code of one strip and where each of its rows' codes starts.
struct StripCode {
    std::vector<std::uint8_t> bytes;     // the strip's code, most significant bit first
    std::vector<std::uint64_t> rowBits;  // rows + 1 bit offsets: row r is coded in [rowBits[r], rowBits[r + 1])
    // Coded exactly as encodeStrip codes these rows (mode choices, run codes, end of block and
    // zero padding): kept rows of such a strip are the bytes a full re-encode would give.
    bool canonical = false;
};

// The code of a whole image in strips of rowsPerStrip rows (the last may be shorter).
struct ImageCode {
    int width = 0;
    int height = 0;
    std::uint32_t rowsPerStrip = 0;
    std::vector<StripCode> strips;
    // Takes nothing, gives the bytes of all strips' code.
    std::size_t codeBytes() const;
};

// Rows of an image, packed 1 bit a pixel, `stride` bytes apart.
struct Rows {
    const std::uint8_t* data = nullptr;  // the first row
    std::size_t stride = 0;
    int width = 0;
};

// A growing buffer of bits, most significant first.
class BitSink {
public:
    // Takes up to 32 bits (the low `count` of value), appends them.
    void put(std::uint32_t value, int count) {
        acc_ = (acc_ << count) | (value & ((std::uint64_t{1} << count) - 1));
        pending_ += count;
        if (pending_ >= 32) flush32();
    }
    // Takes a byte buffer and a bit range of it, appends those bits.
    void copy(const std::uint8_t* data, std::size_t bytes, std::uint64_t from, std::uint64_t to);
    // Gives the number of bits appended so far.
    std::uint64_t bitCount() const { return bytes_.size() * 8 + static_cast<std::uint64_t>(pending_); }
    // Appends zero bits to the next byte and gives the bytes.
    std::vector<std::uint8_t> finish();
    // Takes a byte count, reserves room for it.
    void reserve(std::size_t bytes) { bytes_.reserve(bytes); }

private:
    void flush32() {
        pending_ -= 32;
        const std::uint32_t word = static_cast<std::uint32_t>(acc_ >> pending_);
        const std::uint8_t out[4] = {static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
                                     static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
        bytes_.insert(bytes_.end(), out, out + 4);
    }
    std::vector<std::uint8_t> bytes_;
    std::uint64_t acc_ = 0;
    int pending_ = 0;  // bits in acc_ not yet in bytes_ (fewer than 32)
};

// Takes a strip's code (MSB first), the image width and the strip's row count, decodes the rows
// into `out` (stride bytes apart, every byte of each row written) and fills `code` (bytes copied,
// row offsets, canonical). Gives false with the reason for anything libtiff might read otherwise
// or would warn about: a code outside the tables, a row whose runs do not end at its width, an
// end of block or the end of the data before the last row, uncompressed-mode extensions. The
// caller then decodes the strip through libtiff, which says how the data is damaged.
bool decodeStrip(const std::uint8_t* data, std::size_t bytes, int width, int rows, std::uint8_t* out,
                 std::size_t stride, StripCode& code, std::string& why);

// Takes rows, the first and count of rows to code and the row above the first (null: the white
// row above a strip), appends their code to `sink` and each row's starting bit to rowBits.
void encodeRows(const Rows& rows, int first, int count, const std::uint8_t* above, BitSink& sink,
                std::vector<std::uint64_t>& rowBits);

// Takes a sink holding a strip's rows and their starting bits, appends the end of the last row's
// code, the end-of-block code and zero bits to the byte, gives the strip.
StripCode finishStrip(BitSink& sink, std::vector<std::uint64_t> rowBits);

// Takes rows and the first and count of one strip's rows, gives that strip coded whole: each row,
// the end-of-block code and zero bits to the byte (as libtiff codes a strip).
StripCode encodeStrip(const Rows& rows, int first, int count);

// Takes the image's rows and strip layout, gives the image coded whole.
ImageCode encodeImage(const Rows& rows, int height, std::uint32_t rowsPerStrip);

// Rows changed since a code was made: inclusive spans, kept sorted and merged.
struct RowSpans {
    std::vector<std::pair<int, int>> spans;
    // Takes an inclusive span of rows, adds it (merging touching spans).
    void add(int first, int last);
    // Gives the number of rows in the spans.
    long long rowCount() const;
};

// What a splice would cost next to coding the image whole, in the same made-up units (calibrated
// on A0 scans: one unit is about a nanosecond on the machines the project runs on).
struct SpliceCost {
    bool possible = false;  // the code and the image agree in size and every strip is canonical
    double splice = 0;
    double full = 0;
    long long recodedRows = 0;
    std::string why;  // why a splice is not possible
};

// Takes the image's present code, its size and the rows changed since, gives the estimated costs.
SpliceCost estimateSplice(const ImageCode& code, int width, int height, std::uint32_t rowsPerStrip,
                          const RowSpans& changed);

// Takes the code of the image before its rows in `changed` were edited and the image now, gives
// the code of the image now: strips without changed rows kept, the rows of the others re-coded
// from each span's first row through the row after its last, and the code below copied at its
// new bit offset. The result is byte for byte what encodeImage gives for the image now.
ImageCode splice(const ImageCode& before, const Rows& rows, const RowSpans& changed);

// Takes bytes, reverses the bit order of each in place (least significant first <-> most).
void reverseBits(std::uint8_t* data, std::size_t bytes);

}  // namespace subhost::imagefile::g4
