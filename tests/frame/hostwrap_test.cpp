// The add-on's narrow texts are UTF-8: the wrappers convert them to the host's wide
// strings and back without loss, also for bytes that are not UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "host/hostwrap.h"

namespace {

struct TextCase {
    std::string narrow;
    std::wstring wide;
};

TEST(HostText, Utf8BothWays) {
    const TextCase cases[] = {
        {"", L""},
        {"Pxmend.ini", L"Pxmend.ini"},
        {"/home/jos\xC3\xA9/Pxmend.ini", L"/home/jos\u00E9/Pxmend.ini"},
        {"\xE2\x82\xAC 5", L"\u20AC 5"},
        {"\xF0\x9F\x93\x90", L"\U0001F4D0"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(w_widen(c.narrow.c_str()), c.wide) << c.narrow;
        EXPECT_EQ(s_narrow(c.wide.c_str()), c.narrow) << c.narrow;
    }
    EXPECT_EQ(w_widen(nullptr), L"");
    EXPECT_EQ(s_narrow(nullptr), "");
}

// A byte that does not belong to a valid UTF-8 sequence is kept as the wide character
// U+DC80 + (byte - 0x80) and comes back as the same byte, so a file name in another
// encoding still names its file. A wide character with no UTF-8 form becomes U+FFFD.
TEST(HostText, InvalidTextIsEscapedNotDropped) {
    const TextCase escaped[] = {
        {"a\xFF"
         "b",
         L"a\xDCFF"
         L"b"},
        {"jos\xE9", L"jos\xDCE9"},  // Latin-1
        {"\xC3", L"\xDCC3"},        // cut short at the end
        {"\xE2\x82"
         "A",
         L"\xDCE2\xDC82"
         L"A"},                                   // cut short before another character
        {"\xC0\xAF", L"\xDCC0\xDCAF"},            // overlong
        {"\xED\xA0\x80", L"\xDCED\xDCA0\xDC80"},  // an encoded surrogate
    };
    for (const TextCase& c : escaped) {
        EXPECT_EQ(w_widen(c.narrow.c_str()), c.wide) << c.narrow;
        EXPECT_EQ(s_narrow(c.wide.c_str()), c.narrow) << c.narrow;
    }
    const std::wstring noUtf8[] = {std::wstring(1, wchar_t(0xD800)), std::wstring(1, wchar_t(0xDC10)),
                                   std::wstring(1, wchar_t(0x110000))};
    for (const std::wstring& wide : noUtf8) EXPECT_EQ(s_narrow(wide.c_str()), "\xEF\xBF\xBD");
}

TEST(HostText, NarrowCopyCutsBetweenCharacters) {
    char buffer[6];
    v_narrowCopy(buffer, sizeof buffer, L"abc\u00E9\u00E9");
    EXPECT_STREQ(buffer, "abc\xC3\xA9");
    v_narrowCopy(buffer, 5, L"abcd\u20AC");
    EXPECT_STREQ(buffer, "abcd");
    v_narrowCopy(buffer, 4, L"a\U0001F4D0");
    EXPECT_STREQ(buffer, "a");
}

// File names and extensions compare ignoring ASCII letter case only, ordered as unsigned bytes;
// the counted form stops after count characters.
TEST(HostText, NameCompareIgnoresAsciiCaseOnly) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"", "", 0},
        {"Photo.TIF", "photo.tif", 0},
        {"/Data/Sheet-1.HMR", "/data/sheet-1.hmr", 0},
        {"a", "B", -1},
        {"[", "a", -1},  // '[' lies between 'Z' and 'a': case is folded first
        {"abc", "ab", 1},
        {"ab", "abc", -1},
        {"jos\xC3\xA9", "JOS\xC3\xA9", 0},  // the bytes of a non-ASCII letter are compared as they are
        {"jos\xC3\xA9", "jos\xC3\x89", 1},  // not folded: U+00E9 and U+00C9 differ
        {"z", "\xC3", -1},                  // bytes above 127 sort after ASCII
    };
    auto sign = [](int n) { return (n > 0) - (n < 0); };
    for (const Case& c : cases) {
        EXPECT_EQ(sign(n_nameCompare(c.a, c.b)), c.sign) << c.a << " / " << c.b;
        EXPECT_EQ(sign(n_nameCompare(c.b, c.a)), -c.sign) << c.b << " / " << c.a;
    }
    EXPECT_EQ(n_nameCompareN("Sheet.TIFF", "sheet.tif", 9), 0);
    EXPECT_GT(n_nameCompareN("Sheet.TIFF", "sheet.tif", 10), 0);
    EXPECT_EQ(n_nameCompareN("abc", "abd", 0), 0);
    EXPECT_EQ(n_nameCompareN("ab", "AB", 100), 0);  // stops at the end of the texts
}

}  // namespace
