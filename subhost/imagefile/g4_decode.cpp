// The G4 decoder: a 7-bit table for the coding modes and 12/13-bit tables for the run codes,
// read from a 64-bit window over the strip, each row kept as its list of changing pixels (the
// next row's reference) and filled into the image as black runs. It notes where each row's code
// starts, and whether the strip is coded as the encoder here codes it, so that an edit can keep
// the code of the rows it did not change. It is strict: whatever libtiff could read otherwise
// or would warn about is refused, and the caller decodes that strip through libtiff instead.
#include <algorithm>
#include <array>
#include <cstring>

#include "subhost/imagefile/g4.h"
#include "subhost/imagefile/g4_tables.h"

namespace subhost::imagefile::g4 {

namespace detail {

namespace {

// Takes a lookup table of 2^bits entries and code tables, enters every code and the runs they
// stand for.
template <std::size_t N>
void enterCodes(RunEntry* table, int bits, const Code (&codes)[N], int firstRun, int step) {
    for (std::size_t i = 0; i < N; ++i) {
        const int spare = bits - codes[i].length;
        const std::uint32_t start = static_cast<std::uint32_t>(codes[i].bits) << spare;
        for (std::uint32_t k = 0; k < (1u << spare); ++k)
            table[start + k] =
                RunEntry{static_cast<std::uint16_t>(firstRun + static_cast<int>(i) * step), codes[i].length};
    }
}

struct LookupTables {
    std::array<RunEntry, 1u << kWhiteLookupBits> white{};
    std::array<RunEntry, 1u << kBlackLookupBits> black{};
    LookupTables() {
        enterCodes(white.data(), kWhiteLookupBits, kWhiteTerminating, 0, 1);
        enterCodes(white.data(), kWhiteLookupBits, kWhiteMakeup, 64, 64);
        enterCodes(white.data(), kWhiteLookupBits, kSharedMakeup, 1792, 64);
        enterCodes(black.data(), kBlackLookupBits, kBlackTerminating, 0, 1);
        enterCodes(black.data(), kBlackLookupBits, kBlackMakeup, 64, 64);
        enterCodes(black.data(), kBlackLookupBits, kSharedMakeup, 1792, 64);
    }
};

const LookupTables& lookupTables() {
    static const LookupTables tables;
    return tables;
}

}  // namespace

const RunEntry* whiteLookup() { return lookupTables().white.data(); }
const RunEntry* blackLookup() { return lookupTables().black.data(); }

}  // namespace detail

namespace {

using detail::RunEntry;

enum Mode : std::uint8_t { kInvalid, kPass, kHorizontal, kVertical, kExtension, kEndOfLine };

// A coding mode read from the next 7 bits: its kind, its length and, for vertical modes, the
// offset of a1 from b1.
struct ModeEntry {
    Mode mode = kInvalid;
    std::uint8_t length = 0;
    std::int8_t offset = 0;
};

std::array<ModeEntry, 128> makeModeTable() {
    std::array<ModeEntry, 128> table{};
    auto enter = [&table](unsigned bits, int length, Mode mode, int offset) {
        const int spare = 7 - length;
        for (unsigned k = 0; k < (1u << spare); ++k)
            table[(bits << spare) + k] =
                ModeEntry{mode, static_cast<std::uint8_t>(length), static_cast<std::int8_t>(offset)};
    };
    enter(0b1, 1, kVertical, 0);
    enter(0b011, 3, kVertical, 1);
    enter(0b010, 3, kVertical, -1);
    enter(0b001, 3, kHorizontal, 0);
    enter(0b0001, 4, kPass, 0);
    enter(0b000011, 6, kVertical, 2);
    enter(0b000010, 6, kVertical, -2);
    enter(0b0000011, 7, kVertical, 3);
    enter(0b0000010, 7, kVertical, -3);
    enter(0b0000001, 7, kExtension, 0);
    enter(0b0000000, 7, kEndOfLine, 0);
    return table;
}

const std::array<ModeEntry, 128> kModes = makeModeTable();

// Takes a pointer, gives the 8 bytes there as one big-endian number.
inline std::uint64_t loadBigEndian(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

// Reading position in a strip whose buffer has at least 16 zero bytes after its `limit` bits.
struct BitReader {
    const std::uint8_t* data;
    std::uint64_t pos = 0;
    std::uint64_t limit = 0;
    // Takes a bit count (1..32), gives that many next bits.
    std::uint32_t peek(int count) const {
        return static_cast<std::uint32_t>((loadBigEndian(data + (pos >> 3)) << (pos & 7)) >> (64 - count));
    }
    bool past() const { return pos > limit; }
};

// Whether a run's makeup codes are the ones the encoder here gives: as many 2560s as keep at
// least 2624 left, then one makeup code for what remains of 64 or more.
bool canonicalMakeups(int total, int count, int last, bool earlierAll2560) {
    const int n2560 = total >= 2624 ? (total - 2624) / 2560 + 1 : 0;
    const int rest = total - n2560 * 2560;
    if (rest >= 64) return count == n2560 + 1 && earlierAll2560 && last == (rest & ~63);
    return count == n2560 && (count == 0 || (earlierAll2560 && last == 2560));
}

// The decoder of one strip: the reader, the two rows of changing pixels and what was found.
struct StripDecoder {
    BitReader in;
    int width = 0;
    bool canonical = true;
    std::string why;

    // Takes the table of a colour, reads one run (makeup codes and the terminating code); -1 with
    // the reason when no code fits or the run passes the row's end.
    int readRun(const RunEntry* table, int bits, int row) {
        int total = 0, count = 0, last = 0;
        bool earlierAll2560 = true;
        for (;;) {
            if (in.past()) {
                why = "the data ends inside row " + std::to_string(row);
                return -1;
            }
            const RunEntry e = table[in.peek(bits)];
            if (e.length == 0) {
                why = "no run code fits at bit " + std::to_string(in.pos) + " (row " + std::to_string(row) + ")";
                return -1;
            }
            in.pos += e.length;
            total += e.run;
            if (e.run < 64) break;
            if (count > 0 && last != 2560) earlierAll2560 = false;
            last = e.run;
            ++count;
            if (total > width) {
                why = "a run passes the end of row " + std::to_string(row);
                return -1;
            }
        }
        if (count > 0 && !canonicalMakeups(total, count, last, earlierAll2560)) canonical = false;
        return total;
    }

    // Takes the reference row's changes (ending with sentinels at the width) and room for this
    // row's, decodes one row; gives its number of changes, or -1 with the reason.
    int decodeRow(const int* ref, int* cur, int row) {
        int n = 0, a0 = -1, colour = 0, base = 0;
        while (a0 < width) {
            if (in.past()) {
                why = "the data ends inside row " + std::to_string(row);
                return -1;
            }
            while (ref[base] <= a0) ++base;
            const int bi = base + ((base & 1) ^ colour);
            const int b1 = ref[bi], b2 = ref[bi + 1];
            const std::uint32_t next = in.peek(7);
            if (next & 0x40) {  // vertical 0, the commonest code by far: a1 is b1 (always a canonical choice)
                if (b1 <= a0 || b1 > width) {
                    why = "a vertical code leaves row " + std::to_string(row);
                    return -1;
                }
                ++in.pos;
                if (b1 < width) cur[n++] = b1;
                a0 = b1;
                colour ^= 1;
                continue;
            }
            const ModeEntry m = kModes[next];
            in.pos += m.length;
            switch (m.mode) {
            case kVertical: {
                const int a1 = b1 + m.offset;
                if (a1 <= a0 || a1 > width) {
                    why = "a vertical code leaves row " + std::to_string(row);
                    return -1;
                }
                if (b2 < a1) canonical = false;
                if (a1 < width) cur[n++] = a1;
                a0 = a1;
                colour ^= 1;
                break;
            }
            case kPass:
                if (b2 >= width) {
                    why = "a pass code reaches the end of row " + std::to_string(row);
                    return -1;
                }
                a0 = b2;
                break;
            case kHorizontal: {
                const int start = std::max(a0, 0);
                const RunEntry* first = colour ? detail::blackLookup() : detail::whiteLookup();
                const RunEntry* second = colour ? detail::whiteLookup() : detail::blackLookup();
                const int r1 = readRun(first, colour ? detail::kBlackLookupBits : detail::kWhiteLookupBits, row);
                if (r1 < 0) return -1;
                const int r2 = readRun(second, colour ? detail::kWhiteLookupBits : detail::kBlackLookupBits, row);
                if (r2 < 0) return -1;
                const int a1 = start + r1, a2 = a1 + r2;
                if (a2 > width || (r1 == 0 && a0 >= 0) || (r2 == 0 && a2 < width)) {
                    why = "horizontal runs do not fit row " + std::to_string(row);
                    return -1;
                }
                if (b2 < a1 || (a1 - b1 <= 3 && b1 - a1 <= 3)) canonical = false;
                if (a1 < width) cur[n++] = a1;
                if (a2 < width) cur[n++] = a2;
                a0 = a2;
                break;
            }
            case kExtension:
                why = "uncompressed-mode data in row " + std::to_string(row) + " (not supported)";
                return -1;
            case kEndOfLine:
                why = "an end of block or line before the end of row " + std::to_string(row);
                return -1;
            default:
                why = "no mode code fits in row " + std::to_string(row);
                return -1;
            }
        }
        return n;
    }

    // After the last row: the end-of-block code, then zero bits to the byte, then nothing.
    bool canonicalEnd(std::size_t bytes) const {
        if (in.pos + 24 > in.limit) return false;
        if (in.peek(24) != 0x001001u) return false;
        const std::uint64_t end = in.pos + 24;
        const int padding = static_cast<int>((8 - end % 8) % 8);
        if (padding > 0) {
            BitReader tail = in;
            tail.pos = end;
            if (tail.peek(padding) != 0) return false;
        }
        return (end + 7) / 8 == bytes;
    }
};

// Takes a packed row and its changing pixels, sets its bits: black from each even change to the
// next (or the row's end).
void fillRow(std::uint8_t* row, std::size_t rowBytes, const int* changes, int n, int width) {
    std::memset(row, 0, rowBytes);
    for (int i = 0; i < n; i += 2) {
        const int a = changes[i], b = i + 1 < n ? changes[i + 1] : width;
        const int ba = a >> 3, bb = b >> 3;
        if (ba == bb) {
            row[ba] |= static_cast<std::uint8_t>((0xFFu >> (a & 7)) & ~(0xFFu >> (b & 7)));
            continue;
        }
        row[ba] |= static_cast<std::uint8_t>(0xFFu >> (a & 7));
        if (bb > ba + 1) std::memset(row + ba + 1, 0xFF, static_cast<std::size_t>(bb - ba - 1));
        if (b & 7) row[bb] |= static_cast<std::uint8_t>(~(0xFFu >> (b & 7)));
    }
}

}  // namespace

bool decodeStrip(const std::uint8_t* data, std::size_t bytes, int width, int rows, std::uint8_t* out,
                 std::size_t stride, StripCode& code, std::string& why) {
    if (width <= 0 || rows < 0) {
        why = "no rows to decode";
        return false;
    }
    code.bytes.assign(data, data + bytes);
    code.bytes.resize(bytes + 16, 0);  // the reader looks up to 16 bytes past the data
    code.rowBits.clear();
    code.rowBits.reserve(static_cast<std::size_t>(rows) + 1);
    StripDecoder d{BitReader{code.bytes.data(), 0, static_cast<std::uint64_t>(bytes) * 8}, width};
    std::vector<int> first(static_cast<std::size_t>(width) + 8, width), second(static_cast<std::size_t>(width) + 8);
    int* ref = first.data();
    int* cur = second.data();
    const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
    for (int row = 0; row < rows; ++row) {
        code.rowBits.push_back(d.in.pos);
        const int n = d.decodeRow(ref, cur, row);
        if (n < 0) {
            why = d.why;
            return false;
        }
        std::fill(cur + n, cur + n + 4, width);
        std::swap(ref, cur);
        fillRow(out + static_cast<std::size_t>(row) * stride, rowBytes, ref, n, width);
    }
    if (d.in.past()) {
        why = "the data ends inside row " + std::to_string(rows - 1);
        return false;
    }
    code.rowBits.push_back(d.in.pos);
    code.canonical = d.canonical && d.canonicalEnd(bytes);
    code.bytes.resize(bytes);
    return true;
}

void reverseBits(std::uint8_t* data, std::size_t bytes) {
    static const std::array<std::uint8_t, 256> reversed = [] {
        std::array<std::uint8_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            unsigned r = 0;
            for (int b = 0; b < 8; ++b)
                if (i & (1u << b)) r |= 0x80u >> b;
            t[i] = static_cast<std::uint8_t>(r);
        }
        return t;
    }();
    for (std::size_t i = 0; i < bytes; ++i) data[i] = reversed[data[i]];
}

}  // namespace subhost::imagefile::g4
