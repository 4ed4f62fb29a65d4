// The support library: where the settings file lives and the data file beside it.
#include <cstdlib>

#include "host/tovlib.h"
#include "settings_fixture.h"

namespace settings_test {
namespace {

using SettingsLocationTest = SettingsTest;

TEST_F(SettingsLocationTest, VariableThenXdgThenHome) {
    const std::string oldXdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    char ini[256], dat[320];
    int unused = 7, update = 7;
    auto name = [&] { v_settingDllIniFileName(ini, dat, &unused, &update, "Pxmend", "/app/"); };

    subhost::setCfgVar("PXMEND_SETTINGS", (dir / "a" / "b" / "site.ini").string());
    name();
    EXPECT_EQ(ini, (dir / "a" / "b" / "site.ini").string());
    EXPECT_EQ(dat, (dir / "a" / "b" / "Pxmend.dat").string());
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b"));
    EXPECT_EQ(unused, 0);
    EXPECT_EQ(update, 0);

    // Too long for the add-on's path buffer: the default place, with a warning.
    subhost::setCfgVar("PXMEND_SETTINGS", "/" + std::string(300, 'a'));
    ::setenv("XDG_CONFIG_HOME", (dir / "xdg").c_str(), 1);
    ::setenv("HOME", (dir / "home").c_str(), 1);
    name();
    EXPECT_EQ(ini, (dir / "xdg" / "pixelmend" / "Pxmend.ini").string());
    EXPECT_TRUE(fs::is_directory(dir / "xdg" / "pixelmend"));
    EXPECT_EQ(events("messageCenter").size(), 1u);

    subhost::setCfgVar("PXMEND_SETTINGS", std::nullopt);
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);  // not absolute: ignored
    name();
    EXPECT_EQ(ini, (dir / "home" / ".config" / "pixelmend" / "Pxmend.ini").string());
    EXPECT_EQ(dat, (dir / "home" / ".config" / "pixelmend" / "Pxmend.dat").string());
    EXPECT_TRUE(fs::is_directory(dir / "home" / ".config" / "pixelmend"));

    oldXdg.empty() ? ::unsetenv("XDG_CONFIG_HOME") : ::setenv("XDG_CONFIG_HOME", oldXdg.c_str(), 1);
    ::setenv("HOME", oldHome.c_str(), 1);
}

TEST_F(SettingsLocationTest, RelativePathBecomesFullFromTheCurrentFolder) {
    const fs::path saved = fs::current_path();
    fs::create_directory(dir / "jos\xC3\xA9");
    fs::current_path(dir / "jos\xC3\xA9");
    char ini[256], dat[320];
    int unused = 0, update = 0;
    subhost::setCfgVar("PXMEND_SETTINGS", "cfg/../cfg/site.ini");
    v_settingDllIniFileName(ini, dat, &unused, &update, "Pxmend", "/app/");
    fs::current_path(saved);
    const fs::path folder = dir / "jos\xC3\xA9" / "cfg";
    EXPECT_EQ(ini, (folder / "site.ini").string());
    EXPECT_EQ(dat, (folder / "Pxmend.dat").string());
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(SettingsLocationTest, DataFileRecordsTheSettingsPath) {
    fileWrite(dir / "Pxmend.dat", "old\n");
    EXPECT_TRUE(b_settingDllUpdateSettingsDatFile("/x/Pxmend.ini", (dir / "Pxmend.dat").c_str()));
    EXPECT_EQ(fileText(dir / "Pxmend.dat"), "/x/Pxmend.ini\n");
    fileWrite(dir / "plain", "");
    EXPECT_FALSE(b_settingDllUpdateSettingsDatFile("/x/Pxmend.ini", (dir / "plain" / "Pxmend.dat").c_str()));
}

}  // namespace
}  // namespace settings_test
