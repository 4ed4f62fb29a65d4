// Session scripts run in-process against the test application.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "subhost/host_fixture.h"

namespace fs = std::filesystem;

class SessionTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        dir = fs::temp_directory_path() / ("subhost-session-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        HostTest::TearDown();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // Runs script text; the exit code, with the transcript lines in out.
    int run(const std::string& script, std::optional<int> answers = std::nullopt) {
        std::ofstream(dir / "test.session", std::ios::binary) << script;
        subhost::SessionOptions options;
        options.defaultAnswer = answers;
        options.linkedMain = testapp::mdlMain;
        options.linkedResources = testapp::resources;
        out.str("");
        err.str("");
        return subhost::runSession((dir / "test.session").string(), options, out, err);
    }
    std::vector<nlohmann::json> lines() {
        std::vector<nlohmann::json> result;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) result.push_back(nlohmann::json::parse(line));
        return result;
    }
    fs::path dir;
    std::ostringstream out, err;
};

TEST_F(SessionTest, CleanScriptRunsAndShutsDownAtTheEnd) {
    std::ofstream(dir / "site.json") << R"({"name": "site.dgn"})";
    const int code = run(
        "# comment line\n"
        "design site.json   # relative to the script\n"
        "load\n"
        "keyin alpha one  first\n"
        "command 0x0300000000000000 arg\n"
        "command 216172782113783808\n"  // 0x0300... in decimal
        "set Number 12\n"
        "item 400 dTxt 1 set 3\n");
    // Dialog 400 is not open: that line fails.
    EXPECT_EQ(code, 2);
    EXPECT_EQ(lines().back()["line"], 8);
    // The design was open before the load: no new-design-file call.
    EXPECT_EQ(log(), (std::vector<std::string>{"main:2:KEYIN", "one:first", "beta:arg", "beta:"}));
    EXPECT_EQ(record().Number, 12);
}

TEST_F(SessionTest, EndOfScriptClosesTheDesignThenUnloadsWithTypeZero) {
    std::ofstream(dir / "site.json") << R"({"name": "site.dgn"})";
    testapp::state().unloadAnswer = 1;  // a refusal does not count at exit
    EXPECT_EQ(run("load\ndesign site.json\n"), 0);
    EXPECT_EQ(log(), (std::vector<std::string>{"main:2:KEYIN", "design:1:site.dgn", "design:0:site.dgn", "unload:0"}));
    EXPECT_FALSE(subhost::applicationLoaded());
    EXPECT_EQ(lines().back()["event"], "unload");
}

TEST_F(SessionTest, MalformedLineStopsBeforeAnythingRuns) {
    const char* bad[] = {"frobnicate\n", "version ten\n", "point 1\n", "answer maybe\n", "color 1 2 300\n",
                         "item 400 dTxtX 1 set 3\n", "item 400 dTxt 1 poke\n", "toolsettings maybe\n",
                         "command -5\n", "unload x\n", "dump everything\n", "point 1 2 view 9\n"};
    for (const char* line : bad) {
        const int code = run(std::string("cfg SHOULD_NOT be set\n") + line);
        EXPECT_EQ(code, 2) << line;
        ASSERT_EQ(lines().size(), 1u) << line;
        EXPECT_EQ(lines()[0]["event"], "error");
        EXPECT_EQ(lines()[0]["line"], 2) << line;
        wchar_t value[8];
        EXPECT_NE(mdlSystem_getCfgVar(value, L"SHOULD_NOT", 8), 0) << line;
    }
}

TEST_F(SessionTest, HostileScriptsAreRefusedCleanly) {
    EXPECT_EQ(run(std::string("load\n\x01\x02\xff junk\0 more", 20)), 2);
    EXPECT_NE(lines()[0]["message"].get<std::string>().find("binary"), std::string::npos);
    EXPECT_EQ(run("reset\n" + std::string(5000, 'x') + "\n"), 2);
    EXPECT_EQ(lines()[0]["line"], 2);
    EXPECT_EQ(run(std::string(2u << 20, '#')), 2);
    EXPECT_FALSE(subhost::applicationLoaded());
    subhost::SessionOptions options;
    EXPECT_EQ(subhost::runSession((dir / "missing.session").string(), options, out, err), 2);
}

TEST_F(SessionTest, QuestionsTakeQueuedThenDefaultAnswersElseStopWithExitThree) {
    EXPECT_EQ(run("load\nanswer no\nkeyin ask\nkeyin ask\n"), 3);
    EXPECT_EQ(log(), (std::vector<std::string>{"main:2:KEYIN", "ask:7"}));
    const auto last = lines().back();
    EXPECT_EQ(last["event"], "error");
    EXPECT_EQ(last["line"], 4);
    EXPECT_EQ(last["text"], "Go on?");
    subhost::hostReset();
    testapp::reset();
    EXPECT_EQ(run("load\nkeyin ask\n", ACTIONBUTTON_YES), 0);
    EXPECT_EQ(log()[1], "ask:6");
    subhost::hostReset();
    EXPECT_EQ(run("load\nanswer yes yes\nkeyin ask\n"), 0);
    EXPECT_NE(err.str().find("not used"), std::string::npos);
}

TEST_F(SessionTest, DumpsAndUndoAreEvents) {
    EXPECT_EQ(run("load\nset Values2 5\ndump settings\nundo\nredo\n"), 0);
    const auto all = lines();
    auto settings = std::find_if(all.begin(), all.end(), [](const auto& e) { return e["event"] == "settings"; });
    ASSERT_NE(settings, all.end());
    EXPECT_EQ((*settings)["fields"]["Values"], nlohmann::json({0, 0, 5, 0}));
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const auto& e) { return e["event"] == "undo"; }));
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const auto& e) { return e["event"] == "redo"; }));
}
