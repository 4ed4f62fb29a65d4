// Help and About through the loaded add-on: the help command and the tool
// settings help button open the manual at their destination (the host records
// each request), the generic help button's search and message, the About box's
// texts and the build line's formats.
#include <filesystem>
#include <fstream>

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
