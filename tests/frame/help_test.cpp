// Help and About through the loaded add-on: the help command and the tool
// settings help button open the manual at their destination (the host records
// each request), the generic help button's search and message, the About box's
// texts and the build line's formats.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "frame/frame_fixture.h"
#include "frame/help.h"
#include "resources/ids.h"
#include "subhost/shell.h"

namespace {

class Help : public FrameTest {
protected:
    std::filesystem::path pdf() { return dir / "bin" / "Pxmendv8.pdf"; }

    void SetUp() override {
        FrameTest::SetUp();
        std::filesystem::create_directories(dir / "bin");
        std::ofstream(pdf()) << "%PDF-1.5\n";
        subhost::setCfgVar("PXMEND_PDF_VIEWER", std::string("none"));
    }

    std::vector<std::string> destinations() {
        std::vector<std::string> found;
        for (const auto& e : events("help")) found.push_back(e.value("destination", ""));
        return found;
    }

    // Presses the help button of the tool settings window showing dialogId.
    void pressToolSettingsHelp() {
        std::string error;
        ASSERT_TRUE(subhost::itemPress("toolsettings", RTYPE_PushButton, 99, &error)) << error;
    }

    // Runs the generic help button hook on a button release.
    void genericHelpButton() {
        DialogItemMessage message{DITEM_MESSAGE_BUTTON, nullptr, nullptr, 0, false, BUTTONTRANS_UP, false, false};
        v_helpGenericHook(&message);
        EXPECT_TRUE(message.msgUnderstood);
    }
};

TEST(BuildLine, TwelveHourClockAndTheLibraryDate) {
    EXPECT_EQ(s_buildTimeText(12, 5), "12:05pm");
    EXPECT_EQ(s_buildTimeText(0, 5), "12:05am");
    EXPECT_EQ(s_buildTimeText(13, 7), "1:07pm");
    EXPECT_EQ(s_buildTimeText(11, 59), "11:59am");
    EXPECT_EQ(s_buildTimeText(23, 10), "11:10pm");
    EXPECT_EQ(s_buildLine("Dec  6 2026", "13:07:42"), "Product built:  6 December 2026 1:07pm");
    EXPECT_EQ(s_buildLine("Jan 31 2027", "00:00:00"), "Product built:  31 January 2027 12:00am");
    EXPECT_EQ(s_versionLine(), "10.0a (build 8)");
}

TEST_F(Help, CommandOpensTheManualAtItsArgumentAndNothingWithout) {
    load();
    subhost::runCommand(rid::CMD_HELP, "delete");
    subhost::runCommand(rid::CMD_HELP, "");
    keyin("PXMEND HELP TOPIC settingsScratch");
    keyin("PXMEND HELP TOPIC");
    ASSERT_EQ(destinations(), (std::vector<std::string>{"delete", "settingsScratch"}));
    const auto first = events("help").front();
    EXPECT_EQ(first.value("file", ""), pdf().string());
    EXPECT_EQ(first.value("result", ""), "none");
}

TEST_F(Help, MissingManualIsSaidWithItsPath) {
    load();
    std::filesystem::remove(pdf());
    subhost::runCommand(rid::CMD_HELP, "crop");
    ASSERT_EQ(events("help").size(), 1u);
    EXPECT_EQ(events("help")[0].value("result", ""), "missing");
    ASSERT_EQ(boxes(MSGBOX_NOTICE).size(), 1u);
    EXPECT_NE(boxes(MSGBOX_NOTICE)[0].value("text", "").find(pdf().string()), std::string::npos);
}

TEST_F(Help, ConfiguredViewerGetsFileAndDestinationWithoutBlocking) {
    load();
    const auto marker = dir / "viewer-ran";
    subhost::setCfgVar("PXMEND_PDF_VIEWER", "/bin/sh -c \"echo $1 $0 > " + marker.string() + "\" %f --dest=%d");
    subhost::runCommand(rid::CMD_HELP, "stamp");
    ASSERT_EQ(events("help").size(), 1u);
    EXPECT_EQ(events("help")[0].value("result", ""), "started");
    ASSERT_TRUE(subhost::shell::waitForStarted(10.0));
    EXPECT_EQ(readFile(marker), "--dest=stamp " + pdf().string() + "\n");
}

// Sets an environment variable (or removes it for null) for one test, putting the old value back after.
class EnvSet {
public:
    EnvSet(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        if (old) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvSet() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    EnvSet(const EnvSet&) = delete;
    EnvSet& operator=(const EnvSet&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

TEST_F(Help, ViewerIsLookedForOnlyWithADisplay) {
    load();
    subhost::setCfgVar("PXMEND_PDF_VIEWER", std::nullopt);
    // Stand-in viewers on PATH: each writes its name and arguments into a file of its own.
    const auto programs = dir / "programs";
    std::filesystem::create_directories(programs);
    const auto viewer = [&](const std::string& name) {
        const auto script = programs / name;
        std::ofstream(script) << "#!/bin/sh\necho " << name << " \"$@\" > '" << (dir / (name + ".ran")).string()
                              << "'\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    };
    viewer("evince");
    viewer("okular");
    viewer("zathura");
    const EnvSet path("PATH", programs.c_str());
    const EnvSet noX("DISPLAY", nullptr);
    const EnvSet noWayland("WAYLAND_DISPLAY", nullptr);

    subhost::runCommand(rid::CMD_HELP, "copy");
    ASSERT_EQ(events("help").size(), 1u);
    EXPECT_EQ(events("help")[0].value("result", ""), "noDisplay");
    EXPECT_EQ(events("help")[0].value("viewer", "?"), "");
    EXPECT_TRUE(subhost::shell::waitForStarted(10.0));
    EXPECT_FALSE(std::filesystem::exists(dir / "evince.ran")) << "nothing is started without a display";

    {
        const EnvSet x("DISPLAY", ":7");
        subhost::clearTranscript();
        subhost::runCommand(rid::CMD_HELP, "delete");
        ASSERT_EQ(events("help").size(), 1u);
        EXPECT_EQ(events("help")[0].value("result", ""), "started");
        EXPECT_EQ(events("help")[0].value("viewer", ""), "evince --named-dest=delete " + pdf().string());
        ASSERT_TRUE(subhost::shell::waitForStarted(10.0));
        EXPECT_EQ(readFile(dir / "evince.ran"), "evince --named-dest=delete " + pdf().string() + "\n");
    }
    // Wayland alone is a display too; without evince, okular takes FILE#DEST, then zathura the file alone.
    const EnvSet wayland("WAYLAND_DISPLAY", "wayland-0");
    std::filesystem::remove(programs / "evince");
    subhost::clearTranscript();
    subhost::runCommand(rid::CMD_HELP, "settingsBackup");
    ASSERT_TRUE(subhost::shell::waitForStarted(10.0));
    EXPECT_EQ(readFile(dir / "okular.ran"), "okular " + pdf().string() + "#settingsBackup\n");
    std::filesystem::remove(programs / "okular");
    subhost::runCommand(rid::CMD_HELP, "stamp");
    ASSERT_TRUE(subhost::shell::waitForStarted(10.0));
    EXPECT_EQ(readFile(dir / "zathura.ran"), "zathura " + pdf().string() + "\n");
}

TEST_F(Help, ToolSettingsButtonOpensTheRunningCommandsTopicOnce) {
    load();
    openDesign(false);
    subhost::toolSettings(true);
    keyin("PXMEND CROP");  // no raster: the command stops, its tool settings stay shown
    s__globals.HelpTopic[0] = '\0';
    pressToolSettingsHelp();
    EXPECT_TRUE(events("help").empty()) << "no command has set a topic yet";
    keyin("PXMEND CROP");
    pressToolSettingsHelp();
    EXPECT_EQ(destinations(), (std::vector<std::string>{"crop"}));
}

TEST_F(Help, GenericButtonSearchesChmThenHlpAndSaysTheLastPathTried) {
    load();
    genericHelpButton();
    ASSERT_EQ(boxes(MSGBOX_NOTICE).size(), 1u);
    EXPECT_EQ(boxes(MSGBOX_NOTICE)[0].value("text", ""),
              "Cannot find the '" + (dir / "bin" / "PXMEND.hlp").string() + "' file.");
    EXPECT_EQ(boxes(MSGBOX_NOTICE)[0].value("icon", 0), 1);

    // A .hlp file in the TOV_NETWORK folder is found (and a .chm in TOV_LOCAL before it).
    std::filesystem::create_directories(dir / "local");
    std::filesystem::create_directories(dir / "network");
    std::ofstream(dir / "network" / "PXMEND.hlp") << "help";
    subhost::setCfgVar("TOV_LOCAL", (dir / "local").string());
    subhost::setCfgVar("TOV_NETWORK", (dir / "network").string());
    subhost::clearTranscript();
    genericHelpButton();
    EXPECT_TRUE(boxes(MSGBOX_NOTICE).empty());
    std::ofstream(dir / "local" / "PXMEND.chm") << "help";
    subhost::clearTranscript();
    genericHelpButton();
    bool openedChm = false;
    for (const auto& e : events("messageCenter"))
        openedChm |= e.value("brief", "").find((dir / "local" / "PXMEND.chm").string()) != std::string::npos;
    EXPECT_TRUE(openedChm);
}

// The add-on's resources with four more dialogs, 17999 to 18002, each holding a generic help button.
const rsc::File* resourcesWithHelpDialogs() {
    static const rsc::Item button[] = {
        {RTYPE_PushButton, 1, "Help", "", rid::HOOK_HELP_GENERIC, 0, true, true, {}, 0, 0, 0}};
    static std::vector<rsc::Dialog> dialogs;
    static rsc::File file;
    file = *MdlResources();
    dialogs.assign(file.dialogs.begin(), file.dialogs.end());
    for (int id : {17999, 18000, 18001, 18002}) dialogs.push_back({id, RTYPE_DialogBox, "Select", 0, button});
    file.dialogs = dialogs;
    return &file;
}

TEST_F(Help, GenericButtonOfTheSelectDialogsLooksForSelect) {
    std::string error;
    ASSERT_TRUE(subhost::loadLinkedApplication(&MdlMain, &resourcesWithHelpDialogs,
                                               (dir / "bin" / "pxmend.so").string(), "KEYIN", &error))
        << error;
    for (int id : {17999, 18000, 18001, 18002}) {
        subhost::clearTranscript();
        ASSERT_NE(mdlDialog_open(nullptr, id), nullptr);
        ASSERT_TRUE(subhost::itemPress(std::to_string(id), RTYPE_PushButton, 1, &error)) << error;
        const std::string name = id == 17999 ? "PXMEND" : "select";
        ASSERT_EQ(boxes(MSGBOX_NOTICE).size(), 1u) << id;
        EXPECT_EQ(boxes(MSGBOX_NOTICE)[0].value("text", ""),
                  "Cannot find the '" + (dir / "bin" / (name + ".hlp")).string() + "' file.")
            << id;
    }
}

TEST_F(Help, HelpHooksTakeTheButtonAndLeaveEveryOtherMessage) {
    load();
    std::snprintf(s__globals.HelpTopic, sizeof s__globals.HelpTopic, "%s", "brush");
    for (auto* hook : {&v_helpToolSettingsHook, &v_helpGenericHook}) {
        DialogItemMessage other{DITEM_MESSAGE_CREATE, nullptr, nullptr, 0, true, 0, false, false};
        hook(&other);
        EXPECT_FALSE(other.msgUnderstood);
        DialogItemMessage press{DITEM_MESSAGE_BUTTON, nullptr, nullptr, 0, false, BUTTONTRANS_DOWN, false, false};
        hook(&press);
        EXPECT_TRUE(press.msgUnderstood) << "the press is the button's too";
    }
    EXPECT_TRUE(events("help").empty()) << "a press alone opens nothing";
    EXPECT_TRUE(boxes(MSGBOX_NOTICE).empty());
}

TEST_F(Help, AboutShowsProductVersionDescriptionAndBuild) {
    load();
    keyin("PXMEND HELP ABOUT");
    ASSERT_EQ(events("about").size(), 1u);
    const auto about = events("about")[0];
    EXPECT_EQ(about.value("product", ""), "PixelMend");
    EXPECT_EQ(about.value("module", ""), "Pxmend");
    EXPECT_EQ(about.value("version", ""), "10.0a (build 8)");
    EXPECT_EQ(about.value("description", ""),
              "Easily edit color, grayscale and monochrome raster reference files without leaving MicroStation!");
    EXPECT_EQ(about.value("extra", ""), pc_pxmendBuildLine());
    EXPECT_EQ(std::string(pc_pxmendBuildLine()).rfind("Product built:  ", 0), 0u);
}

}  // namespace
