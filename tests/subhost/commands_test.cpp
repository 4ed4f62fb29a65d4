// Key-in parsing, command numbers, the command queue, loading and unloading.
#include "subhost/host_fixture.h"

using Log = std::vector<std::string>;

TEST_F(HostTest, LoadCallsMainWithPathAndHowAndInstallsMenus) {
    std::string error;
    ASSERT_TRUE(
        subhost::loadLinkedApplication(testapp::mdlMain, testapp::resources, "/apps/t.so", "MS_DGNAPPS", &error));
    EXPECT_EQ(log(), Log{"main:2:MS_DGNAPPS"});
    EXPECT_EQ(std::wstring(mdlSystem_getCurrTaskID()), L"TESTAPP");
    EXPECT_NE(mdlDialog_menuBarFindMenu(mdlDialog_menuBarGetCmdWinP(), RTYPE_PulldownMenu, 111), nullptr);
    EXPECT_FALSE(subhost::loadLinkedApplication(testapp::mdlMain, testapp::resources, "/apps/t.so", "KEYIN", &error));
    EXPECT_NE(error.find("already loaded"), std::string::npos);
}

TEST_F(HostTest, KeyinWordsIgnoreCaseAndTakeUniquePrefixes) {
    load();
    std::string error;
    ASSERT_TRUE(subhost::keyin("alpha one", &error));
    ASSERT_TRUE(subhost::keyin("ALPHA ON extra words", &error));  // "ON" only fits ONE
    ASSERT_TRUE(subhost::keyin("alpi", &error));                  // ALPINE by prefix
    ASSERT_TRUE(subhost::keyin("b  some   text ", &error));
    EXPECT_EQ(log(), (Log{"one:", "one:extra words", "alpine:", "beta:some   text"}));
}

TEST_F(HostTest, AmbiguousOrUnknownKeyinsAreReportedNotRun) {
    load();
    std::string error;
    ASSERT_TRUE(subhost::keyin("alp", &error));  // ALPHA or ALPINE
    ASSERT_TRUE(subhost::keyin("gamma", &error));
    EXPECT_TRUE(log().empty());
    ASSERT_EQ(events("keyinUnknown").size(), 2u);
    EXPECT_EQ(events("keyinUnknown")[0]["keyin"], "alp");
    // ALPHA with a word that fits none of its sub-words: ALPHA itself with that argument (not registered).
    ASSERT_TRUE(subhost::keyin("alpha o", &error));
    ASSERT_EQ(events("commandUnknown").size(), 1u);
    EXPECT_EQ(events("commandUnknown")[0]["command"], "0x0100000000000000");
    EXPECT_EQ(events("commandUnknown")[0]["argument"], "o");
    EXPECT_FALSE(subhost::keyin("   ", &error));
}

TEST_F(HostTest, HostKeyinsAreRecorded) {
    load();
    std::string error;
    ASSERT_TRUE(subhost::keyin("dialog toolbox 113 rastmgr", &error));
    ASSERT_EQ(events("keyin").size(), 1u);
    EXPECT_EQ(events("keyin")[0]["keyin"], "dialog toolbox 113 rastmgr");
}

TEST_F(HostTest, QueuedCommandsRunAfterTheEntryInQueueOrder) {
    load();
    subhost::runCommand(testapp::kQueueing, "");
    EXPECT_EQ(log(), (Log{"queue:end", "two:front", "one:back", "beta:typed"}));
}

TEST_F(HostTest, UnloadCommandOfTheTaskUnloadsWithTypeOneAndMayBeRefused) {
    load();
    testapp::state().unloadAnswer = 1;
    subhost::runCommand(testapp::kUnloadMe, "");
    EXPECT_EQ(log(), Log{"unload:1"});
    EXPECT_TRUE(subhost::applicationLoaded());
    EXPECT_EQ(events("unloadRefused").size(), 1u);
    testapp::state().unloadAnswer = 0;
    subhost::runCommand(testapp::kUnloadMe, "");
    EXPECT_FALSE(subhost::applicationLoaded());
    EXPECT_EQ(mdlDialog_menuBarFindMenu(mdlDialog_menuBarGetCmdWinP(), RTYPE_PulldownMenu, 111), nullptr);
}

TEST_F(HostTest, UnloadTypeZeroCannotBeRefused) {
    load();
    testapp::state().unloadAnswer = 1;
    EXPECT_EQ(subhost::unloadApplication(1), 1);
    EXPECT_EQ(subhost::unloadApplication(0), 0);
    EXPECT_FALSE(subhost::applicationLoaded());
    EXPECT_EQ(log(), (Log{"unload:1", "unload:0"}));
    // And it loads again.
    load();
    EXPECT_TRUE(subhost::applicationLoaded());
}

TEST_F(HostTest, ToolStateShowsNamesAndRunsItsFunctions) {
    load();
    subhost::runCommand(testapp::kTool, "");
    ASSERT_EQ(events("command").size(), 1u);
    EXPECT_EQ(events("command")[0]["text"], "Test Tool");
    EXPECT_EQ(events("prompt")[0]["text"], "Enter a point");
    subhost::cursorMove({5, 0, 0}, 2);
    subhost::dataPoint({7, 0, 0}, 1);
    subhost::resetButton();
    mdlState_dynamicUpdate();
    EXPECT_EQ(log(), (Log{"dyn:5:2:3", "data:7:1", "reset", "dyn:5:2:3"}));
    log().clear();
    // A new command ends the running one: its clean-up runs once.
    subhost::runCommand(testapp::kTool, "");
    mdlState_startDefaultCommand();
    subhost::dataPoint({1, 0, 0}, 0);
    EXPECT_EQ(log(), (Log{"cleanup", "cleanup"}));
}

TEST_F(HostTest, MenuItemsKeepTheirStateUntilTheMenuIsRemoved) {
    load();
    RawItemHdr* bar = mdlDialog_menuBarGetCmdWinP();
    TextPDMItem* item = mdlDialog_menuBarFindItem(bar, RTYPE_PulldownMenu, 111, 1);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(mdlDialog_menuBarFindItem(bar, RTYPE_PulldownMenu, 111, 2), nullptr);
    mdlDialog_textPDMItemSetEnabled(item, false);
    const auto menus = subhost::dumpMenus()["menus"];
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0]["items"][0]["enabled"], false);
    TextPDM* menu = mdlDialog_menuBarFindMenu(bar, RTYPE_PulldownMenu, 111);
    EXPECT_EQ(mdlDialog_menuBarDeleteMenu(menu, bar, RTYPE_PulldownMenu, 111), 0);
    EXPECT_NE(mdlDialog_menuBarDeleteMenu(nullptr, bar, RTYPE_PulldownMenu, 111), 0);
    EXPECT_TRUE(subhost::dumpMenus()["menus"].empty());
}
