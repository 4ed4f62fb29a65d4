// The G4 encoder: each row's changing pixels are found 56 bits at a time, then coded against
// the row above with the choices libtiff makes (pass when b2 lies before a1, vertical when a1 is
// within 3 of b1, else horizontal; long runs as 2560s while 2624 or more are left), so that a
// strip coded here is the strip libtiff codes, byte for byte.
#include <algorithm>
#include <cstring>

#include "subhost/imagefile/g4.h"
#include "subhost/imagefile/g4_tables.h"

namespace subhost::imagefile::g4 {

namespace {

using detail::Code;

// The end-of-line code; two of them end a G4 block.
constexpr std::uint32_t kEol = 0x001;
constexpr int kEolBits = 12;

// Takes a buffer of `bytes` and a bit position in it, gives 64 bits from there (bits past the
// buffer are zero; the low 7 may be cut short).
inline std::uint64_t bitsAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t pos) {
    const std::size_t byte = static_cast<std::size_t>(pos >> 3);
    std::uint64_t v = 0;
    if (byte + 8 <= bytes) {
        std::memcpy(&v, data + byte, 8);
    } else if (byte < bytes) {
        std::uint8_t tail[8] = {};
        std::memcpy(tail, data + byte, bytes - byte);
        std::memcpy(&v, tail, 8);
    }
    return __builtin_bswap64(v) << (pos & 7);
}

// Takes a packed row, gives its changing pixels (where the colour differs from the pixel to the
// left, the row starting white) in `out`, followed by four sentinels at the width; gives their number.
int findChanges(const std::uint8_t* row, int width, int* out) {
    const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8;
    int n = 0;
    std::uint64_t mask = 0;  // all ones while the run is black
    for (int pos = 0; pos < width;) {
        const std::uint64_t x = (bitsAt(row, bytes, static_cast<std::uint64_t>(pos)) ^ mask) & ~std::uint64_t{0xFF};
        if (x == 0) {
            pos += 56;
            continue;
        }
        pos += __builtin_clzll(x);
        if (pos >= width) break;
        out[n++] = pos;
        mask = ~mask;
    }
    std::fill(out + n, out + n + 4, width);
    return n;
}

inline void putCode(BitSink& sink, Code c) { sink.put(c.bits, c.length); }

// Takes a colour and a run, appends its codes.
void putRun(BitSink& sink, int colour, int run) {
    while (run >= 2624) {
        putCode(sink, detail::runCode(colour, 2560));
        run -= 2560;
    }
    if (run >= 64) {
        const int makeup = run & ~63;
        putCode(sink, detail::runCode(colour, makeup));
        run -= makeup;
    }
    putCode(sink, detail::runCode(colour, run));
}

// Vertical codes by a1 - b1 + 3.
constexpr Code kVertical[7] = {{0b0000010, 7}, {0b000010, 6}, {0b010, 3},    {0b1, 1},
                               {0b011, 3},     {0b000011, 6}, {0b0000011, 7}};

// Takes the changes of the row above and of this row (both ending in sentinels), codes the row.
void encodeRow(const int* ref, const int* cur, int width, BitSink& sink) {
    int a0 = -1, colour = 0, base = 0, ci = 0;
    while (a0 < width) {
        while (ref[base] <= a0) ++base;
        const int bi = base + ((base & 1) ^ colour);
        const int b1 = ref[bi], b2 = ref[bi + 1];
        while (cur[ci] <= a0) ++ci;
        const int a1 = cur[ci];
        if (b2 < a1) {
            sink.put(0b0001, 4);
            a0 = b2;
        } else if (a1 - b1 <= 3 && b1 - a1 <= 3) {
            putCode(sink, kVertical[a1 - b1 + 3]);
            a0 = a1;
            colour ^= 1;
        } else {
            const int a2 = cur[ci + 1];
            sink.put(0b001, 3);
            putRun(sink, colour, a1 - std::max(a0, 0));
            putRun(sink, colour ^ 1, a2 - a1);
            a0 = a2;
        }
    }
}

}  // namespace

std::size_t ImageCode::codeBytes() const {
    std::size_t total = 0;
    for (const StripCode& s : strips) total += s.bytes.size();
    return total;
}

void BitSink::copy(const std::uint8_t* data, std::size_t bytes, std::uint64_t from, std::uint64_t to) {
    // Whole bytes out first, leaving fewer than 8 bits pending; then 56 bits at a time go out as
    // 7 bytes with the pending bits in front, straight into the buffer.
    while (pending_ >= 8) {
        pending_ -= 8;
        bytes_.push_back(static_cast<std::uint8_t>(acc_ >> pending_));
    }
    acc_ &= (std::uint64_t{1} << pending_) - 1;
    const std::uint64_t chunks = (to - from) / 56;
    if (chunks > 0) {
        std::size_t at = bytes_.size();
        bytes_.resize(at + static_cast<std::size_t>(chunks) * 7);
        std::uint8_t* out = bytes_.data();
        const int k = pending_;
        for (std::uint64_t i = 0; i < chunks; ++i, from += 56, at += 7) {
            const std::uint64_t combined = (acc_ << 56) | (bitsAt(data, bytes, from) >> 8);
            const std::uint64_t word = __builtin_bswap64((combined >> k) << 8);
            std::memcpy(out + at, &word, 7);
            acc_ = combined & ((std::uint64_t{1} << k) - 1);
        }
    }
    while (to - from >= 32) {
        put(static_cast<std::uint32_t>(bitsAt(data, bytes, from) >> 32), 32);
        from += 32;
    }
    if (to > from) {
        const int count = static_cast<int>(to - from);
        put(static_cast<std::uint32_t>(bitsAt(data, bytes, from) >> (64 - count)), count);
    }
}

std::vector<std::uint8_t> BitSink::finish() {
    while (pending_ >= 8) {
        pending_ -= 8;
        bytes_.push_back(static_cast<std::uint8_t>(acc_ >> pending_));
    }
    if (pending_ > 0) bytes_.push_back(static_cast<std::uint8_t>(acc_ << (8 - pending_)));
    pending_ = 0;
    acc_ = 0;
    return std::move(bytes_);
}

void encodeRows(const Rows& rows, int first, int count, const std::uint8_t* above, BitSink& sink,
                std::vector<std::uint64_t>& rowBits) {
    const int width = rows.width;
    std::vector<int> one(static_cast<std::size_t>(width) + 8), two(static_cast<std::size_t>(width) + 8);
    int* ref = one.data();
    int* cur = two.data();
    if (above)
        findChanges(above, width, ref);
    else
        std::fill(ref, ref + 4, width);
    for (int r = first; r < first + count; ++r) {
        rowBits.push_back(sink.bitCount());
        findChanges(rows.data + static_cast<std::size_t>(r) * rows.stride, width, cur);
        encodeRow(ref, cur, width, sink);
        std::swap(ref, cur);
    }
}

// Takes a sink holding a strip's rows and their offsets, ends the block and gives the strip.
StripCode finishStrip(BitSink& sink, std::vector<std::uint64_t> rowBits) {
    StripCode code;
    rowBits.push_back(sink.bitCount());
    sink.put(kEol, kEolBits);
    sink.put(kEol, kEolBits);
    code.bytes = sink.finish();
    code.rowBits = std::move(rowBits);
    code.canonical = true;
    return code;
}

StripCode encodeStrip(const Rows& rows, int first, int count) {
    BitSink sink;
    sink.reserve(static_cast<std::size_t>(count) * 16 + 16);
    std::vector<std::uint64_t> rowBits;
    rowBits.reserve(static_cast<std::size_t>(count) + 1);
    encodeRows(rows, first, count, nullptr, sink, rowBits);
    return finishStrip(sink, std::move(rowBits));
}

ImageCode encodeImage(const Rows& rows, int height, std::uint32_t rowsPerStrip) {
    ImageCode code;
    code.width = rows.width;
    code.height = height;
    code.rowsPerStrip = std::max<std::uint32_t>(rowsPerStrip, 1);
    for (long long first = 0; first < height; first += code.rowsPerStrip) {
        const int count = static_cast<int>(std::min<long long>(code.rowsPerStrip, height - first));
        code.strips.push_back(encodeStrip(rows, static_cast<int>(first), count));
    }
    return code;
}

}  // namespace subhost::imagefile::g4
