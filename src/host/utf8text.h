// The one conversion between narrow texts and the host's wide strings. Narrow texts
// are UTF-8, as everywhere on Linux; wide strings hold one Unicode code point a
// character. Both directions always give a result:
// - a byte of a narrow text that is not part of a valid UTF-8 sequence becomes the
//   wide character U+DC80 + (byte - 0x80) (a lone low surrogate, which valid UTF-8
//   never gives), and turns back into the same byte: a file name in another encoding
//   still names its file after a trip through the host;
// - any other wide character without a UTF-8 form (another surrogate, beyond U+10FFFF)
//   becomes U+FFFD, the replacement character.
// Used by the add-on's host-call wrappers, its support library and the substitute host.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include <utf8cpp/utf8.h>

// First and last wide character that stand for a byte that is not UTF-8.
constexpr std::uint32_t UTF8TEXT_ESCAPE_FIRST = 0xDC80;
constexpr std::uint32_t UTF8TEXT_ESCAPE_LAST = 0xDCFF;
// What a wide character without a UTF-8 form becomes.
constexpr std::uint32_t UTF8TEXT_REPLACEMENT = 0xFFFD;

// Takes a wide character's value, gives true when it is a Unicode scalar value (has a UTF-8 form).
constexpr bool b_utf8Encodable(std::uint32_t code) { return code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF); }

// Takes a narrow (UTF-8) text, gives its wide form; bytes that are not UTF-8 are escaped as above. Never fails.
inline std::wstring w_utf8Widen(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    auto out = std::back_inserter(wide);
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    while (at != end) {
        const char* const invalid = utf8::find_invalid(at, end);
        out = utf8::unchecked::utf8to32(at, invalid, out);
        if (invalid == end) break;
        wide.push_back(static_cast<wchar_t>(UTF8TEXT_ESCAPE_FIRST + static_cast<unsigned char>(*invalid) - 0x80));
        at = invalid + 1;
    }
    return wide;
}

// Takes a wide text, gives its narrow (UTF-8) form; escaped bytes come back as themselves and
// characters without a UTF-8 form become U+FFFD. Never fails.
inline std::string s_utf8Narrow(std::wstring_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    auto out = std::back_inserter(narrow);
    for (const wchar_t c : text) {
        const auto code = static_cast<std::uint32_t>(c);
        if (code >= UTF8TEXT_ESCAPE_FIRST && code <= UTF8TEXT_ESCAPE_LAST)
            narrow.push_back(static_cast<char>(code - UTF8TEXT_ESCAPE_FIRST + 0x80));
        else
            out = utf8::unchecked::append(b_utf8Encodable(code) ? code : UTF8TEXT_REPLACEMENT, out);
    }
    return narrow;
}

// Takes a wide text, gives valid UTF-8 to show to a person: as s_utf8Narrow, except that escaped
// bytes become U+FFFD too. Never fails.
inline std::string s_utf8Display(std::wstring_view text) {
    std::string shown;
    shown.reserve(text.size());
    auto out = std::back_inserter(shown);
    for (const wchar_t c : text) {
        const auto code = static_cast<std::uint32_t>(c);
        out = utf8::unchecked::append(b_utf8Encodable(code) ? code : UTF8TEXT_REPLACEMENT, out);
    }
    return shown;
}
