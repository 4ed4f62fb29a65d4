// Counts grouped by the user's locale, and the host's number format calls behind them.
#include <gtest/gtest.h>

#include <locale.h>

#include <set>
#include <string>

#include "common/scoped_env.h"
#include "stamp/bitmap.h"

namespace {

bool b_localeExists(const char* name) {
    const locale_t l = newlocale(LC_NUMERIC_MASK, name, locale_t(0));
    if (l == locale_t(0)) return false;
    freelocale(l);
    return true;
}

TEST(StampNumbers, GroupedByTheUsersLocaleWithoutDecimals) {
    if (!b_localeExists("en_US.UTF-8")) GTEST_SKIP() << "the en_US.UTF-8 locale is missing (scripts/setup.sh makes it)";
    const ScopedEnv all("LC_ALL", "en_US.UTF-8");
    EXPECT_STREQ(pc_numberFmt(1234), "1,234");
    EXPECT_STREQ(pc_numberFmt(1), "1");
    EXPECT_STREQ(pc_numberFmt(12), "12");
    EXPECT_STREQ(pc_numberFmt(999), "999");
    EXPECT_STREQ(pc_numberFmt(4294967295u), "4,294,967,295");
    char text[32];
    EXPECT_EQ(GetNumberFormatA(LOCALE_USER_DEFAULT, 0, "-1234567.5", nullptr, text, 32), 14);
    EXPECT_STREQ(text, "-1,234,567.50");
}

TEST(StampNumbers, PlainDigitsInTheCLocaleAndAnUnknownOne) {
    for (const char* name : {"C", "xx_NOWHERE.UTF-8"}) {
        const ScopedEnv all("LC_ALL", name);
        EXPECT_STREQ(pc_numberFmt(1234), "1234") << name;
        EXPECT_STREQ(pc_numberFmt(1234567), "1234567") << name;
        EXPECT_STREQ(pc_numberFmt(0), "0") << name;
    }
}

TEST(StampNumbers, EightBuffersInTurn) {
    const ScopedEnv all("LC_ALL", "C");
    const char* first = pc_numberFmt(1);
    std::set<const char*> buffers{first};
    for (std::uint32_t n = 2; n <= 8; ++n) buffers.insert(pc_numberFmt(n));
    EXPECT_EQ(buffers.size(), 8u);
    EXPECT_STREQ(first, "1") << "the first text stays valid through eight calls";
    EXPECT_EQ(pc_numberFmt(9), first);
    EXPECT_STREQ(first, "9");
}

TEST(StampNumbers, HostRefusesBadValuesAndShortBuffers) {
    const ScopedEnv all("LC_ALL", "C");
    char text[8];
    EXPECT_EQ(GetNumberFormatA(LOCALE_USER_DEFAULT, 0, "12a", nullptr, text, 8), 0);
    EXPECT_EQ(GetNumberFormatA(LOCALE_USER_DEFAULT, 0, "", nullptr, text, 8), 0);
    EXPECT_EQ(GetNumberFormatA(LOCALE_USER_DEFAULT, 0, "123456", nullptr, text, 8), 0) << "needs 10";
    EXPECT_EQ(GetNumberFormatA(LOCALE_USER_DEFAULT, 0, "123456", nullptr, nullptr, 0), 10);
    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDIGITS, text, 8), 2);
    EXPECT_STREQ(text, "2");
    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, 0x7777, text, 8), 0);
}

TEST(StampNumbers, HostHandlesRefuseWhatIsNotAnObject) {
    int notAnObject = 0;
    EXPECT_EQ(DeleteObject(&notAnObject), 0);
    EXPECT_EQ(DeleteDC(reinterpret_cast<HDC>(&notAnObject)), 0);
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(&notAnObject), nullptr), nullptr);
    EXPECT_EQ(GlobalLock(&notAnObject), nullptr);
    EXPECT_EQ(GlobalFree(&notAnObject), &notAnObject);
    HDC dc = CreateCompatibleDC(nullptr);
    HBRUSH brush = CreateSolidBrush(0);
    HGDIOBJ stock = SelectObject(dc, brush);
    EXPECT_NE(stock, nullptr);
    EXPECT_EQ(DeleteObject(brush), 0) << "a selected brush stays";
    EXPECT_EQ(SelectObject(dc, stock), brush);
    EXPECT_EQ(DeleteObject(brush), 1);
    EXPECT_EQ(DeleteObject(brush), 0) << "deleted once";
    EXPECT_EQ(DeleteDC(dc), 1);
}

}  // namespace
