// DXF text values made plain UTF-8 for design texts.
#include "cli/dxf_text.h"

#include <cctype>
#include <cstdint>

namespace pixelmend::dxf {
namespace {

void appendCodePoint(std::string& out, std::uint32_t cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

bool validUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

// Windows-1252's characters 0x80-0x9F (0 where the code page has none).
constexpr std::uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                           0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Hex digits at text[i..i+n) as a number; -1 when they are not all hex digits.
long hexAt(const std::string& text, std::size_t i, std::size_t n) {
    if (i + n > text.size()) return -1;
    long v = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const char c = text[i + k];
        if (!std::isxdigit(static_cast<unsigned char>(c))) return -1;
        v = v * 16 + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10));
    }
    return v;
}

// Cuts text to kMaxTextBytes without splitting a character.
std::string capped(std::string text) {
    if (text.size() <= kMaxTextBytes) return text;
    std::size_t n = kMaxTextBytes;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    text.resize(n);
    return text;
}

}  // namespace

std::string asUtf8(const std::string& text) {
    if (validUtf8(text)) return text;
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out.push_back(ch);
        else if (c < 0xA0)
            appendCodePoint(out, kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : 0xFFFD);
        else
            appendCodePoint(out, c);
    }
    return out;
}

std::string plainText(const std::string& raw) {
    const std::string text = asUtf8(raw);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "%%") == 0 && i + 2 < text.size()) {
            const char c = char(std::tolower(static_cast<unsigned char>(text[i + 2])));
            if (c == 'd' || c == 'p' || c == 'c') {
                appendCodePoint(out, c == 'd' ? 0xB0 : c == 'p' ? 0xB1 : 0x2300);
                i += 2;
                continue;
            }
            if (c == 'u' || c == 'o' || c == 'k') {
                i += 2;
                continue;
            }
            if (c == '%') {
                out.push_back('%');
                i += 2;
                continue;
            }
            if (std::isdigit(static_cast<unsigned char>(c)) && i + 4 < text.size() &&
                std::isdigit(static_cast<unsigned char>(text[i + 3])) &&
                std::isdigit(static_cast<unsigned char>(text[i + 4]))) {
                appendCodePoint(out, std::uint32_t(std::stoi(text.substr(i + 2, 3))) & 0xFF);
                i += 4;
                continue;
            }
        }
        if (text.compare(i, 3, "\\U+") == 0 || text.compare(i, 3, "\\u+") == 0) {
            const long cp = hexAt(text, i + 3, 4);
            if (cp >= 0) {
                appendCodePoint(out, std::uint32_t(cp));
                i += 6;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return capped(out);
}

std::vector<std::string> mtextLines(const std::string& raw) {
    std::vector<std::string> lines(1);
    const std::string& t = raw;
    // Codes whose argument runs to the next semicolon, and codes without one.
    const std::string withArgument = "AaCcFfHhQqTtWwp";
    const std::string toggles = "LlOoKkNnXx";
    for (std::size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (c == '{' || c == '}') continue;
        if (c != '\\' || i + 1 >= t.size()) {
            lines.back().push_back(c);
            continue;
        }
        const char code = t[++i];
        if (code == 'P') {
            lines.emplace_back();
        } else if (code == '~') {
            lines.back().push_back(' ');
        } else if (code == '\\' || code == '{' || code == '}') {
            lines.back().push_back(code);
        } else if (code == 'S') {
            // Stacked fractions a^b, a/b, a#b are written a/b.
            const std::size_t end = t.find(';', i);
            std::string stack = t.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
            for (char& s : stack)
                if (s == '^' || s == '#') s = '/';
            lines.back() += stack;
            i = end == std::string::npos ? t.size() : end;
        } else if (code == 'U' || code == 'u') {
            lines.back() += "\\U";  // left for plainText to write out
        } else if (code == 'M' || code == 'm') {
            i += (i + 6 < t.size() && t[i + 1] == '+') ? 6 : 0;  // \M+nXXXX: a double-byte character, dropped
        } else if (withArgument.find(code) != std::string::npos) {
            const std::size_t end = t.find(';', i);
            i = end == std::string::npos ? t.size() : end;
        } else if (toggles.find(code) == std::string::npos) {
            lines.back().push_back(code);
        }
    }
    for (std::string& line : lines) line = plainText(line);
    return lines;
}

}  // namespace pixelmend::dxf
