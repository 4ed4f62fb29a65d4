// Start-up of the add-on: version flags, the display warning, the deferred tool box,
// settings files in every state, and the add-on's own directory.
#include <filesystem>

#include "frame_fixture.h"
#include "host/mdldialog.h"
#include "raster/target.h"

namespace {

bool toolBoxOpen() { return mdlDialog_find(2, L"PXMEND") != nullptr; }

// ---- Host version flags and the warning that goes with 8.11 and later ----

struct VersionCase {
    int release, major;
    int flag89, flag811;
    bool warning;
};

class VersionFlags : public FrameTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionFlags, SetFromReleaseAndMajor) {
    const VersionCase& c = GetParam();
    subhost::setVersion(c.release, c.major);
    load();
    EXPECT_EQ(s__globals.HostVersion89, c.flag89);
    EXPECT_EQ(s__globals.HostVersion811, c.flag811);
    EXPECT_EQ(boxes(10).size(), c.warning ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionFlags,
                         ::testing::Values(VersionCase{8, 5, 0, 0, false}, VersionCase{8, 9, 1, 0, false},
                                           VersionCase{8, 11, 1, 1, true}, VersionCase{10, 0, 1, 1, true},
                                           VersionCase{10, 17, 1, 1, true}, VersionCase{7, 20, 0, 0, false}));

TEST_F(FrameTest, SettingsFileNeverOverridesVersionFlags) {
    subhost::setVersion(8, 9);
    writeSettings("HostVersion811=1\nHostVersion89=0\n");
    load();
    EXPECT_EQ(s__globals.HostVersion89, 1);
    EXPECT_EQ(s__globals.HostVersion811, 0);
}

// ---- Display-preference warning ----

// Without a settings file: the warning shows, and the defaults are written without a word; the warning
// returns on the next load while the first-run flag has not been saved.
TEST_F(FrameTest, FreshInstallShowsWarningAndWritesDefaults) {
    ASSERT_FALSE(std::filesystem::exists(settingsPath));
    load();
    const auto warnings = boxes(10);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0]["icon"], 3);
    EXPECT_EQ(warnings[0]["text"], DISPLAY_WARNING_TEXT);
    EXPECT_TRUE(boxes(-97).empty());
    EXPECT_STREQ(g_settings.fileName, settingsPath.c_str());
    const std::string written = readFile(settingsPath);
    EXPECT_NE(written.find("FirstRunUnderV10=1\n"), std::string::npos);
    EXPECT_NE(written.find("Backup=1\n"), std::string::npos);
    EXPECT_EQ(s__globals.FirstRunUnderV10, 0);

    ASSERT_EQ(subhost::unloadApplication(1), 0);  // nothing compared changed: no question
    subhost::clearTranscript();
    load();
    EXPECT_EQ(boxes(10).size(), 1u);
}

TEST_F(FrameTest, FirstRunClearsDontShowOnce) {
    writeSettings("FirstRunUnderV10=1\nDontShowV8iWarning=1\n");
    load();
    EXPECT_EQ(boxes(10).size(), 1u);
    EXPECT_EQ(s__globals.DontShowV8iWarning, 0);
}

TEST_F(FrameTest, DontShowSuppressesWarningAfterFirstRun) {
    writeSettings("FirstRunUnderV10=0\nDontShowV8iWarning=1\n");
    load();
    EXPECT_TRUE(boxes(10).empty());
    EXPECT_TRUE(toolBoxOpen());
}

// ---- Loaded from the start-up list ----

TEST_F(FrameTest, StartupListDefersToolBoxUntilFirstDesignOpens) {
    load("MS_DGNAPPS");
    EXPECT_FALSE(toolBoxOpen());
    EXPECT_TRUE(boxes(10).empty());
    EXPECT_EQ(frameState().deferredMenus, 1);
    openDesign(false);
    EXPECT_TRUE(toolBoxOpen());
    EXPECT_EQ(frameState().deferredMenus, 0);
    // The first-run logic belongs to an ordinary load only.
    EXPECT_TRUE(boxes(10).empty());
    EXPECT_EQ(s__globals.FirstRunUnderV10, 1);
}

TEST_F(FrameTest, StartupListInstallsMenusOnlyOnce) {
    load("MS_DGNAPPS");
    openDesign(false);
    // A later install would apply the variable again; the second design must not.
    subhost::setCfgVar("PXMEND_DISABLE", "copy");
    openDesign(false);
    EXPECT_FALSE(b_commandDisabled(1));
}

TEST_F(FrameTest, ClosingToolBoxByHandUnloads) {
    load();
    std::string error;
    ASSERT_TRUE(subhost::closeDialog("2", &error)) << error;
    EXPECT_FALSE(subhost::applicationLoaded());
}

TEST_F(FrameTest, LoadArgumentComparedExactly) {
    load("ms_dgnapps");
    EXPECT_TRUE(toolBoxOpen());
    EXPECT_EQ(frameState().deferredMenus, 0);
}

// ---- Design-file changes ----

// ---- Settings file at start-up ----

TEST_F(FrameTest, UnreadableSettingsFileKeepsDefaultsSilently) {
    std::filesystem::create_directory(settingsPath);
    load();
    EXPECT_TRUE(boxes(-97).empty());
    EXPECT_TRUE(std::filesystem::is_directory(settingsPath));
    EXPECT_EQ(s__globals.Backup, 1);
    EXPECT_EQ(s__globals.ModifyMode, 1);
}

TEST_F(FrameTest, ReadOnlySettingsFileIsReadAndLeftAlone) {
    writeSettings("Backup=0\nModifyMode=0\n");
    std::filesystem::permissions(settingsPath, std::filesystem::perms::owner_read);
    load();
    EXPECT_EQ(s__globals.Backup, 0);
    EXPECT_EQ(s__globals.ModifyMode, 0);
    EXPECT_EQ(readFile(settingsPath), "Backup=0\nModifyMode=0\n");
    EXPECT_TRUE(boxes(-97).empty());
}

TEST_F(FrameTest, LargeSettingsFileIsReadNotReplaced) {
    std::string text = "Backup=0\nFirstRunUnderV10=0\n";
    while (text.size() <= (2u << 20)) text += "# " + std::string(1000, '#') + "\n";
    text += "ModifyMode=0\n";
    writeSettings(text);
    load();
    EXPECT_EQ(s__globals.Backup, 0);
    EXPECT_EQ(s__globals.ModifyMode, 0);
    EXPECT_TRUE(readFile(settingsPath) == text) << "the settings file was replaced";
    EXPECT_TRUE(boxes(-97).empty());
}

// ---- The add-on's own directory ----

struct DirectoryCase {
    const wchar_t* path;
    const char* directory;
};

class AppDirectory : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(AppDirectory, OneSeparatorBetweenPartsAndATrailingOne) {
    v_appDirectorySet(GetParam().path);
    EXPECT_STREQ(frameState().appDirectory, GetParam().directory);
}

INSTANTIATE_TEST_SUITE_P(Paths, AppDirectory,
                         ::testing::Values(DirectoryCase{L"/opt/pixelmend/bin/pxmend.so", "/opt/pixelmend/bin/"},
                                           DirectoryCase{L"/opt//pixelmend///bin/pxmend.so", "/opt/pixelmend/bin/"},
                                           DirectoryCase{L"//server/share//apps/pxmend.so", "//server/share/apps/"},
                                           DirectoryCase{L"\\\\server\\share\\pxmend.so", "//server/share/"},
                                           DirectoryCase{L"///pxmend.so", "//"}, DirectoryCase{L"/pxmend.so", "/"},
                                           DirectoryCase{L"pxmend.so", "./"}, DirectoryCase{L"", "./"},
                                           DirectoryCase{nullptr, "./"}));

TEST(AppDirectoryLimits, OverlongPathIsCutToTheBuffer) {
    const std::wstring longPath = L"/" + std::wstring(400, L'a') + L"/pxmend.so";
    v_appDirectorySet(longPath.c_str());
    EXPECT_EQ(std::string(frameState().appDirectory).size(), sizeof frameState().appDirectory - 1);
}

}  // namespace
