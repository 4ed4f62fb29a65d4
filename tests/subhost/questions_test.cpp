// Message boxes, file dialogs and the colour chooser: queued answers, the
// default answer, and questions nobody answers.
#include "host/winapi.h"
#include "subhost/host_fixture.h"

namespace {
int box(int id) { return mdlDialog_openMessageBox(id, L"Question?", 2); }
}  // namespace

TEST_F(HostTest, NoticeTakesNoQueuedAnswer) {
    load();
    subhost::queueAnswer(ACTIONBUTTON_NO);
    EXPECT_EQ(box(MSGBOX_NOTICE), ACTIONBUTTON_OK);
    EXPECT_EQ(box(501), ACTIONBUTTON_OK);  // the application's one-button box
    EXPECT_EQ(box(MSGBOX_YESNO), ACTIONBUTTON_NO);
    const auto boxes = events("messageBox");
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0],
              (nlohmann::json{
                  {"event", "messageBox"}, {"dialog", -97}, {"icon", 2}, {"text", "Question?"}, {"answer", "ok"}}));
    EXPECT_EQ(boxes[2]["answer"], "no");
}

TEST_F(HostTest, QueuedAnswersMustBeButtonsOfTheBox) {
    load();
    subhost::queueAnswer(ACTIONBUTTON_SAVEAS);
    EXPECT_EQ(box(500), ACTIONBUTTON_SAVEAS);
    EXPECT_EQ(events("messageBox")[0]["answer"], 11);
    subhost::queueAnswer(ACTIONBUTTON_OK);
    EXPECT_THROW(box(MSGBOX_YESNO), subhost::SessionStop);
    const auto errors = events("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["dialog"], -121);
    EXPECT_EQ(errors[0]["allowed"], nlohmann::json({"yes", "no"}));
}

TEST_F(HostTest, DisabledButtonOfACreatedBoxCannotAnswer) {
    load();
    MSDialog* created = mdlDialog_create(nullptr, 500);
    ASSERT_NE(created, nullptr);
    DialogItem* cancel = mdlDialog_itemGetByTypeAndId(created, RTYPE_PushButton, -4, 0);
    ASSERT_NE(cancel, nullptr);
    mdlDialog_itemSetEnabledState(created, cancel->itemIndex, false, false);
    subhost::queueAnswer(ACTIONBUTTON_CANCEL);
    try {
        box(500);
        FAIL() << "a disabled button answered";
    } catch (const subhost::SessionStop& stop) {
        EXPECT_EQ(stop.exitCode(), 3);
        EXPECT_NE(stop.question().find("500"), std::string::npos);
    }
    EXPECT_EQ(events("error")[0]["allowed"], nlohmann::json({"ok", 11}));
}

TEST_F(HostTest, DefaultAnswerFitsEachBox) {
    load();
    subhost::setDefaultAnswer(ACTIONBUTTON_YES);
    EXPECT_EQ(box(MSGBOX_YESNO), ACTIONBUTTON_YES);
    EXPECT_EQ(box(MSGBOX_CONFIRM), ACTIONBUTTON_OK);
    EXPECT_EQ(box(500), ACTIONBUTTON_OK);
    subhost::setDefaultAnswer(ACTIONBUTTON_NO);
    EXPECT_EQ(box(MSGBOX_YESNOCANCEL), ACTIONBUTTON_NO);
    EXPECT_EQ(box(MSGBOX_CONFIRM), ACTIONBUTTON_CANCEL);
    subhost::setDefaultAnswer(std::nullopt);
    EXPECT_THROW(box(MSGBOX_CONFIRM), subhost::SessionStop);
}

// The same question answered the same way again and again, with nothing but message boxes between,
// is a loop: the session stops with an error instead of running forever.
TEST_F(HostTest, DefaultAnsweredQuestionLoopStopsTheSession) {
    load();
    subhost::setDefaultAnswer(ACTIONBUTTON_YES);
    auto ask = [] {
        mdlDialog_openMessageBox(MSGBOX_NOTICE, L"Unable to write settings file.", 4);
        return box(MSGBOX_YESNO);
    };
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ask(), ACTIONBUTTON_YES);
    mdlOutput_printf(MSG_STATUS, L"something else happened");  // progress: the count starts again
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ask(), ACTIONBUTTON_YES);
    try {
        ask();
        FAIL() << "the loop went on";
    } catch (const subhost::SessionStop& stop) {
        EXPECT_EQ(stop.exitCode(), 2);
    }
    const auto errors = events("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0]["message"].get<std::string>().find("loop"), std::string::npos);
    EXPECT_EQ(errors[0]["text"], "Question?");
}

TEST_F(HostTest, FileDialogsTakeQueuedPathsOrCancel) {
    wchar_t name[MAXFILELENGTH];
    subhost::queueFileAnswer("/tmp/chosen.ini");
    subhost::queueFileAnswer(std::nullopt);
    EXPECT_EQ(mdlDialog_fileOpen(name, nullptr, 0, L"", L"*.ini", L"/tmp", L"Open Settings"), 0);
    EXPECT_STREQ(name, L"/tmp/chosen.ini");
    EXPECT_NE(mdlDialog_fileCreate(name, nullptr, 0, L"", L"*.ini", L"/tmp", L"Save Settings As"), 0);
    const auto dialogs = events("fileDialog");
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0]["kind"], "open");
    EXPECT_EQ(dialogs[0]["filter"], "*.ini");
    EXPECT_EQ(dialogs[1]["kind"], "create");
    EXPECT_EQ(dialogs[1]["answer"], "cancel");
    EXPECT_THROW(mdlDialog_fileOpen(name, nullptr, 0, L"", L"*", L"", L"Open"), subhost::SessionStop);
    subhost::queueFileAnswer("/tmp/" + std::string(300, 'x'));
    EXPECT_NE(mdlDialog_fileOpen(name, nullptr, 0, L"", L"*", L"", L"Open"), 0);  // too long to hand back
    subhost::setDefaultAnswer(ACTIONBUTTON_NO);                                   // --answers no cancels file dialogs
    EXPECT_NE(mdlDialog_fileOpen(name, nullptr, 0, L"", L"*", L"", L"Open"), 0);
}

TEST_F(HostTest, ColourChooserAnswersInPlace) {
    CHOOSECOLORA choose{};
    choose.rgbResult = 10 | (20 << 8) | (30 << 16);
    choose.Flags = CC_RGBINIT | CC_FULLOPEN;
    subhost::queueColorAnswer(std::array<std::uint8_t, 3>{1, 2, 3});
    subhost::queueColorAnswer(std::nullopt);
    EXPECT_NE(ChooseColorA(&choose), 0);
    EXPECT_EQ(choose.rgbResult, COLORREF(1 | (2 << 8) | (3 << 16)));
    EXPECT_EQ(ChooseColorA(&choose), 0);
    EXPECT_EQ(choose.rgbResult, COLORREF(1 | (2 << 8) | (3 << 16)));
    const auto chooser = events("colorChooser");
    EXPECT_EQ(chooser[0]["start"], nlohmann::json({10, 20, 30}));
    EXPECT_EQ(chooser[1]["answer"], "cancel");
    EXPECT_THROW(ChooseColorA(&choose), subhost::SessionStop);
}

TEST_F(HostTest, OutputBecomesEventsWithTheExactTexts) {
    load();
    mdlOutput_printf(MSG_STATUS, L"Done: 3 files");
    mdlOutput_printf(MSG_ERROR, L"Unable to remove pulldown menu");
    mdlOutput_rscPrintf(MSG_PROMPT, nullptr, 2, 1);
    mdlOutput_rscPrintf(MSG_PROMPT, nullptr, 2, 99);
    mdlOutput_messageCenter(OutputMessagePriority_Error, L"Brief \u00e9", L"Detail", false);
    const auto& t = subhost::transcript();
    ASSERT_GE(t.size(), 5u);
    const auto tail = std::vector<nlohmann::json>(t.end() - 5, t.end());
    EXPECT_EQ(
        tail[0],
        (nlohmann::json{{"event", "status"}, {"text", "Done: 3 files"}, {"list", 0}, {"id", 0}, {"missing", false}}));
    EXPECT_EQ(tail[1]["event"], "error");
    EXPECT_EQ(tail[2]["text"], "Enter a point");
    EXPECT_EQ(tail[3]["missing"], true);
    EXPECT_EQ(tail[4]["brief"], "Brief \xc3\xa9");  // Latin-1 text arrives as UTF-8
    EXPECT_EQ(tail[4]["priority"], 10);
}

TEST_F(HostTest, CompletionBarOpensUpdatesAndCloses) {
    CompletionBar* bar = mdlDialog_completionBarOpen(L"Stamping");
    ASSERT_NE(bar, nullptr);
    mdlDialog_completionBarUpdate(bar, L"Elements", 50);
    mdlDialog_completionBarClose(bar);
    mdlDialog_completionBarUpdate(bar, L"late", 60);  // a closed bar takes nothing
    const auto bars = events("completionBar");
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_EQ(bars[0]["title"], "Stamping");
    EXPECT_EQ(bars[1]["percent"], 50);
    EXPECT_EQ(bars[2]["action"], "close");
}
