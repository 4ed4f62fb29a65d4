// The support library: where the settings file lives, the data file, and the
// help, open and About calls.
#include <cstdlib>
#include <optional>

#include "host/tovlib.h"
#include "settings_fixture.h"

namespace settings_test {
namespace {

// Sets (or unsets, nullopt) an environment variable for the life of the object.
class EnvVar {
public:
    EnvVar(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class SettingsLocationTest : public SettingsTest {
protected:
    // Runs the naming call; the flags are set to 7 first to see that they are filled.
    void name() {
        unusedFlag = updateFlag = 7;
        v_settingDllIniFileName(iniName, datName, &unusedFlag, &updateFlag, "Pxmend", (dir / "app/").c_str());
    }
    char iniName[256] = "";
    char datName[320] = "";
    int unusedFlag = 0;
    int updateFlag = 0;
};

TEST_F(SettingsLocationTest, ConfigurationVariableNamesTheFile) {
    const fs::path path = dir / "new" / "deeper" / "site.ini";
    subhost::setCfgVar("PXMEND_SETTINGS", path.string());
    name();
    EXPECT_EQ(std::string(iniName), path.string());
    EXPECT_EQ(std::string(datName), (dir / "new" / "deeper" / "Pxmend.dat").string());
    EXPECT_TRUE(fs::is_directory(dir / "new" / "deeper"));
    EXPECT_EQ(unusedFlag, 0);
    EXPECT_EQ(updateFlag, 0);
}

TEST_F(SettingsLocationTest, XdgConfigHomeWhenNoVariable) {
    EnvVar xdg("XDG_CONFIG_HOME", (dir / "xdg").string());
    name();
    EXPECT_EQ(std::string(iniName), (dir / "xdg" / "pixelmend" / "Pxmend.ini").string());
    EXPECT_EQ(std::string(datName), (dir / "xdg" / "pixelmend" / "Pxmend.dat").string());
    EXPECT_TRUE(fs::is_directory(dir / "xdg" / "pixelmend"));
}

TEST_F(SettingsLocationTest, HomeConfigWhenXdgUnsetOrRelative) {
    EnvVar home("HOME", (dir / "home").string());
    for (const std::optional<std::string>& xdg : {std::optional<std::string>(), std::optional<std::string>("rel/cfg")}) {
        EnvVar unset("XDG_CONFIG_HOME", xdg);
        name();
        EXPECT_EQ(std::string(iniName), (dir / "home" / ".config" / "pixelmend" / "Pxmend.ini").string());
        EXPECT_TRUE(fs::is_directory(dir / "home" / ".config" / "pixelmend"));
    }
}

TEST_F(SettingsLocationTest, OverlongVariableFallsBackWithAWarning) {
    EnvVar xdg("XDG_CONFIG_HOME", (dir / "xdg").string());
    subhost::setCfgVar("PXMEND_SETTINGS", "/" + std::string(300, 'a') + ".ini");
    name();
    EXPECT_EQ(std::string(iniName), (dir / "xdg" / "pixelmend" / "Pxmend.ini").string());
    EXPECT_EQ(events("messageCenter").size(), 1u);
}

TEST_F(SettingsLocationTest, DataFileRecordsTheSettingsPath) {
    const fs::path dat = dir / "Pxmend.dat";
    fileWrite(dat, "old\n");
    EXPECT_TRUE(b_settingDllUpdateSettingsDatFile("/x/Pxmend.ini", dat.c_str()));
    EXPECT_EQ(fileText(dat), "/x/Pxmend.ini\n");
    fileWrite(dir / "plain", "");
    EXPECT_FALSE(b_settingDllUpdateSettingsDatFile("/x/Pxmend.ini", (dir / "plain" / "Pxmend.dat").c_str()));
}

using SupportDisplayTest = SettingsTest;

TEST_F(SupportDisplayTest, HelpReportsTheDestinationOrTheMissingFile) {
    const fs::path pdf = dir / "Pxmendv8.pdf";
    fileWrite(pdf, "%PDF");
    EXPECT_EQ(j_pdfHelp_displayNamedDest(pdf.c_str(), "copy"), 0);
    EXPECT_NE(j_pdfHelp_displayNamedDest((dir / "none.pdf").c_str(), "copy"), 0);
    const auto entries = events("messageCenter");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].value("brief", ""), "Help: " + pdf.string() + "#copy");
    EXPECT_NE(entries[1].value("brief", "").find((dir / "none.pdf").string()), std::string::npos);
}

TEST_F(SupportDisplayTest, OpenFileNeedsAnExistingFile) {
    fileWrite(dir / "a.chm", "");
    EXPECT_EQ(j_OSOpenFile((dir / "a.chm").c_str()), 0);
    EXPECT_NE(j_OSOpenFile(dir.c_str()), 0);
    EXPECT_NE(j_OSOpenFile(nullptr), 0);
}

TEST_F(SupportDisplayTest, AboutBoxShowsItsLines) {
    EXPECT_EQ(j_htmabout2("PixelMend", "Pxmend", "10.0a (build 8)", "Edits rasters.", "Product built:  x"), 0);
    const auto boxes = events("messageBox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].value("dialog", 0), -97);
    EXPECT_EQ(boxes[0].value("icon", 0), 1);
    EXPECT_EQ(boxes[0].value("text", ""),
              "About PixelMend\nModule: Pxmend\nVersion: 10.0a (build 8)\nEdits rasters.\nProduct built:  x");
}

TEST(SupportDateText, MonthNamesAndOutOfRange) {
    char buffer[64];
    v_dateText(buffer, 2026, 12, 4);
    EXPECT_STREQ(buffer, "4 December 2026");
    v_dateText(buffer, 2026, 13, 4);
    EXPECT_STREQ(buffer, "2026-13-04");
    v_dateText(nullptr, 2026, 1, 1);
}

}  // namespace
}  // namespace settings_test
