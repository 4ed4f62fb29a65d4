// The splice of an edited image's G4 code: strips without changed rows are kept; in a strip
// with changed rows the code above the first changed row is kept, each span of changed rows is
// coded anew together with the row after it (whose reference row changed), and the code of the
// rows between and below is copied at its new bit offset. What it gives is what coding the whole
// image gives, byte for byte, because a row's G4 code depends on that row and the one above alone.
#include <algorithm>

#include "subhost/imagefile/g4.h"

namespace subhost::imagefile::g4 {

namespace {

// Cost units (about a nanosecond each), measured on the busy and the grid A0 sheet: coding a row
// costs a scan of its bytes and work in proportion to its code; copying code costs per byte,
// more when it is shifted bit by bit.
constexpr double kScanPerRowByte = 0.1;
constexpr double kCodePerBit = 5.5;
constexpr double kShiftPerByte = 0.6;
constexpr double kCopyPerByte = 0.1;

// Takes a strip's code and a row range of it, gives the cost of coding those rows anew.
double codingCost(const StripCode& strip, int first, int last, std::size_t rowBytes) {
    const double bits = static_cast<double>(strip.rowBits[static_cast<std::size_t>(last) + 1] -
                                            strip.rowBits[static_cast<std::size_t>(first)]);
    return static_cast<double>(last - first + 1) * static_cast<double>(rowBytes) * kScanPerRowByte + bits * kCodePerBit;
}

// Takes the changed spans and a strip's first row and row count, gives the spans within the
// strip as the strip's own row numbers.
std::vector<std::pair<int, int>> spansIn(const RowSpans& changed, long long first, int count) {
    std::vector<std::pair<int, int>> local;
    const long long last = first + count - 1;
    for (const auto& [a, b] : changed.spans) {
        if (b < first || a > last) continue;
        local.emplace_back(static_cast<int>(std::max<long long>(a, first) - first),
                           static_cast<int>(std::min<long long>(b, last) - first));
    }
    return local;
}

// Takes a strip's row count, gives its first row and row count.
int stripRows(const ImageCode& code, std::size_t strip) {
    const long long first = static_cast<long long>(strip) * code.rowsPerStrip;
    return static_cast<int>(std::min<long long>(code.rowsPerStrip, code.height - first));
}

// Takes the old strip, the image now and the strip's changed spans, gives the strip coded anew
// where it changed and copied elsewhere.
StripCode spliceStrip(const StripCode& old, const Rows& rows, long long first, int count,
                      const std::vector<std::pair<int, int>>& spans) {
    BitSink sink;
    sink.reserve(old.bytes.size() + old.bytes.size() / 8 + 64);
    std::vector<std::uint64_t> rowBits;
    rowBits.reserve(static_cast<std::size_t>(count) + 1);
    auto keep = [&](int from, int to) {  // rows [from, to) as they were coded
        if (from >= to) return;
        const std::uint64_t start = old.rowBits[static_cast<std::size_t>(from)];
        const std::uint64_t at = sink.bitCount();
        for (int r = from; r < to; ++r) rowBits.push_back(at + old.rowBits[static_cast<std::size_t>(r)] - start);
        sink.copy(old.bytes.data(), old.bytes.size(), start, old.rowBits[static_cast<std::size_t>(to)]);
    };
    int next = 0;  // the first row not yet coded or kept
    for (const auto& [a, b] : spans) {
        const int from = std::max(a, next);
        const int to = std::min(b + 1, count - 1);
        if (to < from) continue;
        keep(next, from);
        const std::uint8_t* above =
            from > 0 ? rows.data + static_cast<std::size_t>(first + from - 1) * rows.stride : nullptr;
        encodeRows(rows, static_cast<int>(first + from), to - from + 1, above, sink, rowBits);
        next = to + 1;
    }
    keep(next, count);
    return finishStrip(sink, std::move(rowBits));
}

}  // namespace

void RowSpans::add(int first, int last) {
    if (last < first) return;
    auto it = std::lower_bound(spans.begin(), spans.end(), std::make_pair(first, last));
    it = spans.insert(it, {first, last});
    // Merge with the span before when they touch, then swallow the spans after that touch.
    if (it != spans.begin() && std::prev(it)->second + 1 >= it->first) {
        std::prev(it)->second = std::max(std::prev(it)->second, it->second);
        it = std::prev(spans.erase(it));
    }
    while (std::next(it) != spans.end() && it->second + 1 >= std::next(it)->first) {
        it->second = std::max(it->second, std::next(it)->second);
        spans.erase(std::next(it));
    }
}

long long RowSpans::rowCount() const {
    long long n = 0;
    for (const auto& [a, b] : spans) n += b - a + 1;
    return n;
}

SpliceCost estimateSplice(const ImageCode& code, int width, int height, std::uint32_t rowsPerStrip,
                          const RowSpans& changed) {
    SpliceCost cost;
    if (code.width != width || code.height != height || code.rowsPerStrip != rowsPerStrip || rowsPerStrip == 0) {
        cost.why = "the image's size or strips differ from the code kept of it";
        return cost;
    }
    const std::size_t strips = (static_cast<std::size_t>(height) + rowsPerStrip - 1) / rowsPerStrip;
    if (code.strips.size() != strips) {
        cost.why = "the code kept has another number of strips";
        return cost;
    }
    const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
    for (std::size_t s = 0; s < strips; ++s) {
        const StripCode& strip = code.strips[s];
        const int count = stripRows(code, s);
        if (!strip.canonical || strip.rowBits.size() != static_cast<std::size_t>(count) + 1) {
            cost.why = "strip " + std::to_string(s) + " is not coded as the encoder here codes it";
            return cost;
        }
        cost.full += codingCost(strip, 0, count - 1, rowBytes);
        const auto spans = spansIn(changed, static_cast<long long>(s) * rowsPerStrip, count);
        if (spans.empty()) {
            cost.splice += static_cast<double>(strip.bytes.size()) * kCopyPerByte;
            continue;
        }
        cost.splice += static_cast<double>(strip.bytes.size()) * kShiftPerByte;
        int next = 0;
        for (const auto& [a, b] : spans) {
            const int from = std::max(a, next), to = std::min(b + 1, count - 1);
            if (to < from) continue;
            cost.splice += codingCost(strip, from, to, rowBytes);
            cost.recodedRows += to - from + 1;
            next = to + 1;
        }
    }
    cost.possible = true;
    return cost;
}

ImageCode splice(const ImageCode& before, const Rows& rows, const RowSpans& changed) {
    ImageCode after;
    after.width = before.width;
    after.height = before.height;
    after.rowsPerStrip = before.rowsPerStrip;
    after.strips.reserve(before.strips.size());
    for (std::size_t s = 0; s < before.strips.size(); ++s) {
        const long long first = static_cast<long long>(s) * before.rowsPerStrip;
        const int count = stripRows(before, s);
        const auto spans = spansIn(changed, first, count);
        if (spans.empty())
            after.strips.push_back(before.strips[s]);
        else
            after.strips.push_back(spliceStrip(before.strips[s], rows, first, count, spans));
    }
    return after;
}

}  // namespace subhost::imagefile::g4
