// The settings record: factory reset, the change test, the date line and the
// settings-file chooser.
#include <cstring>

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

TEST_F(SettingsRecordTest, ChangeTestComparesOptionsOnly) {
    g_settings.snapshot = s__globals;
    int t_globals::*const compared[] = {
        &t_globals::Backup,         &t_globals::SaveWithoutAsking, &t_globals::DisplayPrompts,
        &t_globals::ScratchDirOption, &t_globals::CropCopy,        &t_globals::EditCopy,
        &t_globals::ResizeCopy,     &t_globals::Interface,         &t_globals::BorderColor,
        &t_globals::ModifyMode,     &t_globals::HybridMode,        &t_globals::StampMode,
        &t_globals::StampDelete,    &t_globals::DeskewMode,        &t_globals::DeskewCorner,
        &t_globals::DespeckleMode,  &t_globals::DespeckleX,        &t_globals::DespeckleY,
        &t_globals::ClipMethod,     &t_globals::MaskMethod,        &t_globals::ShellAction,
        &t_globals::CanvasAuto,     &t_globals::ResizeDestination, &t_globals::MergePixels,
        &t_globals::CreateNewFile,  &t_globals::DontShowV8iWarning, &t_globals::CanvasColorIndex};
    for (auto field : compared) {
        s__globals.*field += 1;
        EXPECT_TRUE(b_settingsChanged());
        s__globals.*field -= 1;
    }
    s__globals.LineWeight[31] = 0;
    EXPECT_TRUE(b_settingsChanged());
    s__globals = g_settings.snapshot;
    std::strcpy(s__globals.LineStyle[5], "3,4,");
    EXPECT_TRUE(b_settingsChanged());
    s__globals = g_settings.snapshot;
    s__globals.CanvasColor.blue = 1;
    EXPECT_TRUE(b_settingsChanged());

    s__globals = g_settings.snapshot;
    s__globals.FirstRunUnderV10 = 0;
    s__globals.ScaleX = 2.0;
    s__globals.HostVersion89 = 1;
    std::strcpy(s__globals.HelpTopic, "crop");
    std::strcpy(g_settings.snapshot.ScratchDir, "/Data/Scratch");
    std::strcpy(s__globals.ScratchDir, "/data/SCRATCH");
    std::strcpy(g_settings.snapshot.LineStyle[1], "a,b");
    std::strcpy(s__globals.LineStyle[1], "A,B");
    EXPECT_FALSE(b_settingsChanged());
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
