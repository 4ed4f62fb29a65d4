// The settings record: factory values, the change test, the date line and the
// settings-file chooser.
#include <cstring>

#include "host/mdlsystem.h"
#include "settings_fixture.h"

namespace settings_test {
namespace {

using SettingsDefaultsTest = SettingsTest;

TEST_F(SettingsDefaultsTest, FactoryValues) {
    const t_globals& r = s__globals;
    EXPECT_EQ(r.Backup, 1);
    EXPECT_EQ(r.StampMode, 5);
    EXPECT_EQ(r.DespeckleMode, 5);
    EXPECT_EQ(r.Interface, 2);
    EXPECT_EQ(r.ScaleX, 1.0);
    EXPECT_EQ(r.ScaleY, 1.0);
    EXPECT_EQ(r.ScratchWidth, 1000);
    EXPECT_EQ(r.BrushSize, 20.0);
    EXPECT_EQ(r.ScaleLock, 1);
    EXPECT_EQ(r.LineWeight[0], 1);
    EXPECT_EQ(r.LineWeight[31], 32);
    EXPECT_STREQ(r.LineStyle[0], "1");
    EXPECT_STREQ(r.LineStyle[6], "7,4,1,4,1,4");
    EXPECT_STREQ(r.LineStyle[7], "9,4,3,4");
    EXPECT_STREQ(r.ScratchDir, "");
    const RGBColorDef yellow{255, 255, 0};
    EXPECT_EQ(r.BorderColor, mdlColor_elementColorFromRGB(&yellow, mdlModelRef_getActive()));
}

TEST_F(SettingsDefaultsTest, ResetKeepsHostFlagsAndHelpDestinations) {
    s__globals.HostVersion89 = 1;
    s__globals.HostVersion811 = 1;
    std::strcpy(s__globals.HelpTopic, "copy");
    std::strcpy(s__globals.PageName, "settingsDeskew");
    s__globals.ScaleX = 3.5;
    s__globals.LineWeight[2] = 40;
    std::strcpy(s__globals.ResizeOldSizeText, "10 x 10");
    v_settingsDefaults();
    EXPECT_EQ(s__globals.HostVersion89, 1);
    EXPECT_EQ(s__globals.HostVersion811, 1);
    EXPECT_STREQ(s__globals.HelpTopic, "copy");
    EXPECT_STREQ(s__globals.PageName, "settingsDeskew");
    EXPECT_EQ(s__globals.ScaleX, 1.0);
    EXPECT_EQ(s__globals.LineWeight[2], 3);
    EXPECT_STREQ(s__globals.ResizeOldSizeText, "");
}

// The change test compares the record with the state of the last read or write.
class SettingsChangedTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        g_settings.snapshot = s__globals;
    }
};

TEST_F(SettingsChangedTest, EveryComparedNumberCounts) {
    int t_globals::*const compared[] = {
        &t_globals::Backup,        &t_globals::SaveWithoutAsking,  &t_globals::DisplayPrompts,
        &t_globals::ScratchDirOption, &t_globals::CropCopy,        &t_globals::EditCopy,
        &t_globals::ResizeCopy,    &t_globals::Interface,          &t_globals::BorderColor,
        &t_globals::ModifyMode,    &t_globals::HybridMode,         &t_globals::StampMode,
        &t_globals::StampDelete,   &t_globals::DeskewMode,         &t_globals::DeskewCorner,
        &t_globals::DespeckleMode, &t_globals::DespeckleX,         &t_globals::DespeckleY,
        &t_globals::ClipMethod,    &t_globals::MaskMethod,         &t_globals::ShellAction,
        &t_globals::CanvasAuto,    &t_globals::ResizeDestination,  &t_globals::MergePixels,
        &t_globals::CreateNewFile, &t_globals::DontShowV8iWarning, &t_globals::CanvasColorIndex};
    for (auto field : compared) {
        s__globals.*field += 1;
        EXPECT_TRUE(b_settingsChanged());
        s__globals.*field -= 1;
        EXPECT_FALSE(b_settingsChanged());
    }
}

TEST_F(SettingsChangedTest, RunTimeValuesAndFirstRunDoNotCount) {
    s__globals.FirstRunUnderV10 = 0;
    s__globals.CopyAngle = 90;
    s__globals.ScaleX = 2.0;
    s__globals.ScratchWidth = 5;
    s__globals.HostVersion89 = 1;
    s__globals.WeightRow = 3;
    std::strcpy(s__globals.HelpTopic, "crop");
    EXPECT_FALSE(b_settingsChanged());
}

TEST_F(SettingsChangedTest, ArraysAndColourCount) {
    s__globals.LineWeight[31] = 0;
    EXPECT_TRUE(b_settingsChanged());
    s__globals = g_settings.snapshot;
    std::strcpy(s__globals.LineStyle[5], "3,4,");
    EXPECT_TRUE(b_settingsChanged());
    s__globals = g_settings.snapshot;
    s__globals.CanvasColor.blue = 1;
    EXPECT_TRUE(b_settingsChanged());
}

TEST_F(SettingsChangedTest, LetterCaseOfTextsDoesNotCount) {
    std::strcpy(g_settings.snapshot.ScratchDir, "/Data/Scratch");
    std::strcpy(s__globals.ScratchDir, "/data/SCRATCH");
    std::strcpy(g_settings.snapshot.LineStyle[0], "a,b");
    std::strcpy(s__globals.LineStyle[0], "A,B");
    EXPECT_FALSE(b_settingsChanged());
    std::strcpy(s__globals.ScratchDir, "/data/SCRATCH2");
    EXPECT_TRUE(b_settingsChanged());
}

TEST_F(SettingsChangedTest, ReadAndWriteTakeNewSnapshots) {
    s__globals.Backup = 0;
    ASSERT_EQ(j_settingsWrite(false, false), 0);
    EXPECT_FALSE(b_settingsChanged());
    EXPECT_EQ(g_settings.dialogCopy.Backup, 0);
    settings_test::fileWrite(settingsPath(), "Backup=1\n");
    ASSERT_EQ(j_settingsRead(false, false), 0);
    EXPECT_FALSE(b_settingsChanged());
    EXPECT_EQ(g_settings.dialogCopy.Backup, 1);
}

// The date line: weekday, day, month, year, then a 12-hour clock.
std::string stamp(int hour, int minute) {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 4;
    when.tm_wday = 5;
    when.tm_hour = hour;
    when.tm_min = minute;
    char buffer[64];
    EXPECT_EQ(j_dateStamp(buffer, when), 0);
    return buffer;
}

TEST(DateStamp, TwelveHourClock) {
    EXPECT_EQ(stamp(0, 5), "Friday, 4 December 2026  12:05 am");
    EXPECT_EQ(stamp(2, 46), "Friday, 4 December 2026  2:46 am");
    EXPECT_EQ(stamp(11, 59), "Friday, 4 December 2026  11:59 am");
    EXPECT_EQ(stamp(12, 5), "Friday, 4 December 2026  12:05 pm");
    EXPECT_EQ(stamp(13, 7), "Friday, 4 December 2026  1:07 pm");
    EXPECT_EQ(stamp(23, 59), "Friday, 4 December 2026  11:59 pm");
}

TEST(DateStamp, NamesAndNoBuffer) {
    std::tm when{};
    when.tm_year = 2027 - 1900;
    when.tm_mon = 0;
    when.tm_mday = 31;
    when.tm_wday = 0;
    char buffer[64];
    ASSERT_EQ(j_dateStamp(buffer, when), 0);
    EXPECT_STREQ(buffer, "Sunday, 31 January 2027  12:00 am");
    EXPECT_EQ(j_dateStamp(nullptr, when), 32768);
    EXPECT_EQ(j_dateStamp(nullptr), 32768);
}

TEST(DateStamp, NowIsTheLocalTime) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char expected[64], actual[64];
        j_dateStamp(expected, local);
        ASSERT_EQ(j_dateStamp(actual), 0);
        if (std::string(expected) == actual) return;  // else a minute went by: try again
    }
    FAIL() << "j_dateStamp(buffer) does not give the local time";
}

// The chooser opens in the settings file's folder and the chosen file becomes the settings file.
using SettingsChooserTest = SettingsTest;

TEST_F(SettingsChooserTest, SaveAsWritesTheChosenFileAndAdoptsIt) {
    const fs::path chosen = dir / "other.ini";
    subhost::queueFileAnswer(chosen.string());
    s__globals.Backup = 0;
    ASSERT_EQ(j_settingsWrite(true, true), 0);
    EXPECT_EQ(settingsPath(), chosen);
    EXPECT_NE(fileText(chosen).find("\nBackup=0\n"), std::string::npos);
    const auto dialogs = events("fileDialog");
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].value("kind", ""), "create");
    EXPECT_EQ(dialogs[0].value("title", ""), "Save Settings As");
    EXPECT_EQ(dialogs[0].value("filter", ""), "*.ini");
    EXPECT_EQ(fs::path(dialogs[0].value("directory", "")).lexically_normal(), (dir / "").lexically_normal());
}

TEST_F(SettingsChooserTest, OpenReadsTheChosenFileAndOffersItNextTime) {
    const fs::path chosen = dir / "mine.ini";
    fileWrite(chosen, "StampMode=3\n");
    subhost::queueFileAnswer(chosen.string());
    ASSERT_EQ(j_settingsRead(true, true), 0);
    EXPECT_EQ(s__globals.StampMode, 3);
    EXPECT_EQ(settingsPath(), chosen);
    EXPECT_STREQ(g_settings.lastChosenPath, chosen.c_str());

    subhost::queueFileAnswer(std::nullopt);
    EXPECT_EQ(pc_settingsFileChoose(false), nullptr);
    const auto dialogs = events("fileDialog");
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1].value("kind", ""), "open");
    EXPECT_EQ(dialogs[1].value("title", ""), "Select *.ini File");
}

TEST_F(SettingsChooserTest, CancelChangesNothing) {
    const std::string before = g_settings.fileName;
    s__globals.Backup = 0;
    subhost::queueFileAnswer(std::nullopt);
    EXPECT_EQ(j_settingsRead(true, true), 32768);
    subhost::queueFileAnswer(std::nullopt);
    EXPECT_EQ(j_settingsWrite(true, true), 32768);
    EXPECT_EQ(s__globals.Backup, 0);
    EXPECT_EQ(g_settings.fileName, before);
    EXPECT_TRUE(b_settingsChanged());
    EXPECT_TRUE(messageTexts().empty());
}

TEST_F(SettingsChooserTest, FailedSaveAsKeepsTheOldFileName) {
    const std::string before = g_settings.fileName;
    fs::create_directory(dir / "taken.ini");
    subhost::queueFileAnswer((dir / "taken.ini").string());
    EXPECT_EQ(j_settingsWrite(true, true), 32768);
    EXPECT_EQ(g_settings.fileName, before);
    EXPECT_EQ(messageTexts().size(), 1u);
}

}  // namespace
}  // namespace settings_test
