// Movable memory blocks and the user's number format of the Windows calls the add-on makes.
//
// The number format follows the environment as any program on this system does: the first set of
// LC_ALL, LC_NUMERIC and LANG names the locale, whose thousands separator, grouping and decimal
// separator apply. Numbers get 2 fractional digits (what LOCALE_IDIGITS gives for every locale here,
// as the user's default does on Windows). A locale that does not exist on this system formats as the
// C locale: no grouping, '.' before the fraction.
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "host/winapi.h"

namespace {

struct Block {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    int locks = 0;
};

// The module's state: every live memory block by its handle.
struct MemoryState {
    std::map<const void*, std::unique_ptr<Block>> blocks;
};

MemoryState& memory() {
    static MemoryState state;
    return state;
}

constexpr int k_fractionDigits = 2;

struct NumericConventions {
    std::string decimal = ".";
    std::string thousands;
    std::string grouping;  // as localeconv's: sizes from the right, CHAR_MAX ends grouping
};

// The numeric conventions of the environment's locale (the C locale's when it does not exist).
NumericConventions conventions() {
    NumericConventions c;
    const char* name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            name = value;
            break;
        }
    }
    if (!name) return c;
    const locale_t locale = newlocale(LC_NUMERIC_MASK, name, locale_t(0));
    if (locale == locale_t(0)) return c;
    c.decimal = nl_langinfo_l(RADIXCHAR, locale);
    c.thousands = nl_langinfo_l(THOUSEP, locale);
    c.grouping = nl_langinfo_l(GROUPING, locale);
    freelocale(locale);
    if (c.decimal.empty()) c.decimal = ".";
    return c;
}

// digits with separator inserted by grouping (sizes from the right; the last size repeats).
std::string grouped(const std::string& digits, const NumericConventions& c) {
    if (c.thousands.empty() || c.grouping.empty()) return digits;
    std::string out;
    std::size_t left = digits.size();
    std::size_t g = 0;
    std::vector<std::string> pieces;
    while (left > 0) {
        const int size = static_cast<unsigned char>(c.grouping[std::min(g, c.grouping.size() - 1)]);
        if (size <= 0 || size >= 127 || std::size_t(size) >= left) {
            pieces.push_back(digits.substr(0, left));
            break;
        }
        pieces.push_back(digits.substr(left - size, size));
        left -= size;
        ++g;
    }
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
        if (!out.empty()) out += c.thousands;
        out += *it;
    }
    return out;
}

// Copies text into out of size characters; the characters with the zero, the size needed for size 0, 0
// when it does not fit.
int written(const std::string& text, char* out, int size) {
    const int needed = int(text.size()) + 1;
    if (size == 0) return needed;
    if (!out || size < needed) return 0;
    std::memcpy(out, text.c_str(), std::size_t(needed));
    return needed;
}

}  // namespace

extern "C" {

HGLOBAL GlobalAlloc(UINT, std::size_t bytes) {
    if (bytes > (std::size_t(1) << 31) + 4096) return nullptr;
    auto block = std::make_unique<Block>();
    block->bytes.reset(new (std::nothrow) std::uint8_t[std::max<std::size_t>(bytes, 1)]());
    if (!block->bytes) return nullptr;
    block->size = bytes;
    HGLOBAL handle = block.get();
    memory().blocks.emplace(handle, std::move(block));
    return handle;
}

void* GlobalLock(HGLOBAL handle) {
    const auto it = memory().blocks.find(handle);
    if (it == memory().blocks.end()) return nullptr;
    ++it->second->locks;
    return it->second->bytes.get();
}

BOOL GlobalUnlock(HGLOBAL handle) {
    const auto it = memory().blocks.find(handle);
    if (it == memory().blocks.end() || it->second->locks == 0) return 0;
    return --it->second->locks > 0 ? 1 : 0;
}

std::size_t GlobalSize(HGLOBAL handle) {
    const auto it = memory().blocks.find(handle);
    return it == memory().blocks.end() ? 0 : it->second->size;
}

HGLOBAL GlobalFree(HGLOBAL handle) { return memory().blocks.erase(handle) ? nullptr : handle; }

int GetNumberFormatA(LCID, DWORD, const char* value, const void* format, char* out, int size) {
    if (!value || format || size < 0) return 0;
    const char* p = value;
    const bool negative = *p == '-';
    if (negative) ++p;
    const char* start = p;
    while (*p >= '0' && *p <= '9') ++p;
    std::string whole(start, p);
    std::string fraction;
    if (*p == '.') {
        const char* f = ++p;
        while (*p >= '0' && *p <= '9') ++p;
        fraction.assign(f, p);
    }
    if (*p != '\0' || (whole.empty() && fraction.empty()) || whole.size() > 4096) return 0;
    if (whole.empty()) whole = "0";
    fraction.resize(k_fractionDigits, '0');  // cut (Windows rounds; callers here pass whole numbers) or padded
    const NumericConventions c = conventions();
    std::string text = (negative ? "-" : "") + grouped(whole, c);
    if (k_fractionDigits > 0) text += c.decimal + fraction;
    return written(text, out, size);
}

int GetLocaleInfoA(LCID, LCTYPE type, char* data, int size) {
    if (size < 0) return 0;
    switch (type) {
    case LOCALE_IDIGITS:
        return written(std::to_string(k_fractionDigits), data, size);
    case LOCALE_SDECIMAL:
        return written(conventions().decimal, data, size);
    case LOCALE_STHOUSAND:
        return written(conventions().thousands, data, size);
    default:
        return 0;
    }
}

}  // extern "C"
