// The settings record: factory reset, the change test, the date line and the
// settings-file chooser.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "settings/settings_file.h"
#include "settings_fixture.h"

namespace settings_test {
namespace {

using SettingsRecordTest = SettingsTest;

TEST_F(SettingsRecordTest, ResetKeepsHostFlagsAndHelpDestinations) {
    s__globals.HostVersion811 = 1;
    std::strcpy(s__globals.HelpTopic, "copy");
    std::strcpy(s__globals.PageName, "settingsDeskew");
    s__globals.ScaleX = 3.5;
    s__globals.LineWeight[2] = 40;
    v_settingsDefaults();
    EXPECT_EQ(s__globals.HostVersion811, 1);
    EXPECT_STREQ(s__globals.HelpTopic, "copy");
    EXPECT_STREQ(s__globals.PageName, "settingsDeskew");
    EXPECT_EQ(s__globals.ScaleX, 1.0);
    EXPECT_EQ(s__globals.LineWeight[2], 3);
}

// The key=value lines of a settings-file text, in file order (the date line left out).
std::vector<std::pair<std::string, std::string>> keyLines(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (equals == std::string::npos || line.rfind("Date created", 0) == 0) continue;
        lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return lines;
}

// Another valid value of the same kind: a number one more, a colour with another red, a text longer.
std::string otherValue(const std::string& value) {
    int r = 0, g = 0, b = 0;
    char extra = 0;
    if (std::sscanf(value.c_str(), "%d,%d,%d%c", &r, &g, &b, &extra) == 3)
        return std::to_string((r + 1) % 256) + "," + std::to_string(g) + "," + std::to_string(b);
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (!value.empty() && *end == 0) return std::to_string(number + 1);
    return value + "7";
}

// Every key the file carries is written in the table's order, read back into the record and written
// again with the new value; each one but FirstRunUnderV10 (which changes at every first start) makes
// the change test answer yes.
TEST_F(SettingsRecordTest, EveryWrittenKeyIsReadBackAndCountsAsAChange) {
    const std::string defaults = s_settingsText(s__globals, "today");
    const auto lines = keyLines(defaults);
    std::size_t count = 0;
    const SettingsKey* keys = pv_settingsKeys(&count);
    ASSERT_GT(count, 0u);
    std::size_t next = 0;  // the table's keys come first, in its order, then the weights and styles
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_LT(next, lines.size()) << keys[i].name << " is not written";
        EXPECT_EQ(lines[next++].first, keys[i].name);
    }
    EXPECT_GT(lines.size(), count) << "the line weights and styles follow the table";
    for (const auto& [key, value] : lines) {
        const t_globals factory = s__globals;
        g_settings.snapshot = s__globals;
        const std::string changed = otherValue(value);
        v_settingsParse(s__globals, key + "=" + changed + "\n");
        const std::string again = s_settingsText(s__globals, "today");
        EXPECT_NE(again.find("\n" + key + "=" + changed + "\n"), std::string::npos)
            << key << " not read back as " << changed;
        EXPECT_EQ(keyLines(again).size(), lines.size()) << key;
        EXPECT_EQ(b_settingsChanged(), key != "FirstRunUnderV10") << key;
        s__globals = factory;
    }
    EXPECT_EQ(s_settingsText(s__globals, "today"), defaults);
}

// Unknown keys, malformed lines and keys the file does not carry change nothing; a missing key keeps
// its value; the factory values come back whole after any change.
TEST_F(SettingsRecordTest, UnknownAndMissingKeysChangeNothingAndDefaultsComeBack) {
    const std::string defaults = s_settingsText(s__globals, "today");
    g_settings.snapshot = s__globals;
    v_settingsParse(s__globals, "NoSuchKey=5\nScaleX=7\nHelpTopic=crop\nBackup\n=3\n\n[Section]\n");
    EXPECT_EQ(s_settingsText(s__globals, "today"), defaults);
    EXPECT_EQ(s__globals.ScaleX, 1.0);
    EXPECT_FALSE(b_settingsChanged());

    v_settingsParse(s__globals, "StampMode=3\n");
    v_settingsParse(s__globals, "Backup=0\n");  // a file without StampMode keeps the value read before
    EXPECT_EQ(s__globals.StampMode, 3);
    EXPECT_EQ(s__globals.Backup, 0);
    EXPECT_TRUE(b_settingsChanged());

    v_settingsParse(s__globals, "LineWeight2=40\nScratchDir=/elsewhere\n");
    v_settingsDefaults();
    EXPECT_EQ(s_settingsText(s__globals, "today"), defaults);
    EXPECT_FALSE(b_settingsChanged());
}

// Fields the file does not carry (run-time values, host flags, help destinations) are no change, and
// texts that differ only in letter case are the same option.
TEST_F(SettingsRecordTest, ChangeTestIgnoresRunTimeValuesAndLetterCase) {
    g_settings.snapshot = s__globals;
    s__globals.FirstRunUnderV10 = 0;
    s__globals.ScaleX = 2.0;
    s__globals.HostVersion89 = 1;
    std::strcpy(s__globals.HelpTopic, "crop");
    std::strcpy(g_settings.snapshot.ScratchDir, "/Data/Scratch");
    std::strcpy(s__globals.ScratchDir, "/data/SCRATCH");
    std::strcpy(g_settings.snapshot.LineStyle[1], "a,b");
    std::strcpy(s__globals.LineStyle[1], "A,B");
    EXPECT_FALSE(b_settingsChanged());
    s__globals.LineWeight[31] = 0;
    EXPECT_TRUE(b_settingsChanged());
}

std::string stamp(int hour, int minute) {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 4;
    when.tm_wday = 5;
    when.tm_hour = hour;
    when.tm_min = minute;
    char buffer[64] = "";
    EXPECT_EQ(j_dateStamp(buffer, when), 0);
    return buffer;
}

TEST(DateStamp, TwelveHourClock) {
    EXPECT_EQ(stamp(0, 5), "Friday, 4 December 2026  12:05 am");
    EXPECT_EQ(stamp(11, 59), "Friday, 4 December 2026  11:59 am");
    EXPECT_EQ(stamp(12, 5), "Friday, 4 December 2026  12:05 pm");
    EXPECT_EQ(stamp(13, 7), "Friday, 4 December 2026  1:07 pm");
    EXPECT_EQ(stamp(23, 59), "Friday, 4 December 2026  11:59 pm");
    EXPECT_EQ(j_dateStamp(nullptr), 32768);
}

TEST_F(SettingsRecordTest, SaveAsAndOpenAdoptTheChosenFile) {
    const std::string first = g_settings.fileName;
    s__globals.Backup = 0;
    subhost::queueFileAnswer(std::nullopt);
    EXPECT_EQ(j_settingsWrite(true, true), 32768);
    EXPECT_EQ(g_settings.fileName, first);
    EXPECT_TRUE(b_settingsChanged());

    const fs::path chosen = dir / "other.ini";
    subhost::queueFileAnswer(chosen.string());
    ASSERT_EQ(j_settingsWrite(true, true), 0);
    EXPECT_EQ(settingsPath(), chosen);
    EXPECT_NE(fileText(chosen).find("\nBackup=0\n"), std::string::npos);

    fileWrite(dir / "mine.ini", "StampMode=3\n");
    subhost::queueFileAnswer((dir / "mine.ini").string());
    ASSERT_EQ(j_settingsRead(true, true), 0);
    EXPECT_EQ(s__globals.StampMode, 3);
    EXPECT_EQ(settingsPath(), dir / "mine.ini");

    const auto dialogs = events("fileDialog");
    ASSERT_EQ(dialogs.size(), 3u);
    EXPECT_EQ(dialogs[1].value("kind", ""), "create");
    EXPECT_EQ(dialogs[1].value("title", ""), "Save Settings As");
    EXPECT_EQ(dialogs[1].value("filter", ""), "*.ini");
    EXPECT_EQ(fs::path(dialogs[1].value("directory", "")) / "", dir / "");
    EXPECT_EQ(dialogs[2].value("kind", ""), "open");
    EXPECT_EQ(dialogs[2].value("title", ""), "Select *.ini File");
    EXPECT_TRUE(messageTexts().empty());
}

}  // namespace
}  // namespace settings_test
