// Unload: the settings-changed question with its four answers, a failed save asked
// again, refusal only for positive unload types, saving without asking, and the
// settings path it names when a session script gives it.
#include <unistd.h>

#include <filesystem>

#include "common/scoped_env.h"
#include "frame_fixture.h"
#include "host/mdldialog.h"

namespace {

class Unload : public FrameTest {
protected:
    void SetUp() override {
        FrameTest::SetUp();
        writeSettings("FirstRunUnderV10=0\nDontShowV8iWarning=1\nBackup=1\n");
        load();
        subhost::clearTranscript();
        s__globals.Backup = 0;  // a compared option changes
    }

    std::string question() const {
        return "Your PixelMend settings have changed.\nSettings file name: " + settingsPath.string();
    }
};

TEST_F(Unload, SaveWritesCurrentFile) {
    subhost::queueAnswer(ACTIONBUTTON_OK);
    EXPECT_EQ(subhost::unloadApplication(1), 0);
    const auto asked = boxes(144002);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0]["text"], question());
    EXPECT_EQ(asked[0]["icon"], 2);
    EXPECT_NE(readFile(settingsPath).find("Backup=0\n"), std::string::npos);
    EXPECT_FALSE(subhost::applicationLoaded());
}

TEST_F(Unload, SaveAsWritesChosenFile) {
    const auto other = dir / "Other.ini";
    subhost::queueAnswer(ACTIONBUTTON_SAVEAS);
    subhost::queueFileAnswer(other.string());
    EXPECT_EQ(subhost::unloadApplication(1), 0);
    EXPECT_NE(readFile(other).find("Backup=0\n"), std::string::npos);
    EXPECT_NE(readFile(settingsPath).find("Backup=1\n"), std::string::npos);
}

TEST_F(Unload, SaveAsCancelledAsksAgain) {
    subhost::queueAnswer(ACTIONBUTTON_SAVEAS);
    subhost::queueFileAnswer(std::nullopt);
    subhost::queueAnswer(ACTIONBUTTON_NO);
    EXPECT_EQ(subhost::unloadApplication(1), 0);
    EXPECT_EQ(boxes(144002).size(), 2u);
}

TEST_F(Unload, DontSaveLeavesFileAlone) {
    const std::string before = readFile(settingsPath);
    subhost::queueAnswer(ACTIONBUTTON_NO);
    EXPECT_EQ(subhost::unloadApplication(1), 0);
    EXPECT_EQ(readFile(settingsPath), before);
    EXPECT_FALSE(subhost::applicationLoaded());
}

TEST_F(Unload, CancelRefusesPositiveUnloadAndKeepsToolBox) {
    std::string error;
    subhost::queueAnswer(ACTIONBUTTON_CANCEL);
    EXPECT_EQ(subhost::unloadApplication(1), 1);
    EXPECT_TRUE(subhost::applicationLoaded());
    EXPECT_NE(mdlDialog_find(2, L"PXMEND"), nullptr);
}

TEST_F(Unload, CancelNotOfferedForUnconditionalUnload) {
    subhost::queueAnswer(ACTIONBUTTON_CANCEL);
    EXPECT_THROW(subhost::unloadApplication(0), subhost::SessionStop);
    const auto errors = events("error");
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back()["allowed"], nlohmann::json::parse(R"(["ok", 11, "no"])"));
}

TEST_F(Unload, FailedSaveReportsAndAsksAgain) {
    std::filesystem::remove(settingsPath);
    std::filesystem::create_directory(settingsPath);  // nothing can be written at this path
    subhost::queueAnswer(ACTIONBUTTON_OK);
    subhost::queueAnswer(ACTIONBUTTON_NO);
    EXPECT_EQ(subhost::unloadApplication(1), 0);
    std::vector<std::pair<int, std::string>> sequence;
    for (const auto& e : events("messageBox"))
        sequence.emplace_back(e["dialog"].get<int>(), e["text"].get<std::string>());
    ASSERT_EQ(sequence.size(), 3u);
    EXPECT_EQ(sequence[0].first, 144002);
    EXPECT_EQ(sequence[1], std::make_pair(-97, "Unable to write settings file " + settingsPath.string() + "."));
    EXPECT_EQ(sequence[2], std::make_pair(144002, question()));
    EXPECT_TRUE(std::filesystem::is_directory(settingsPath));
}

TEST_F(Unload, SaveWithoutAskingWritesSilently) {
    s__globals.SaveWithoutAsking = 1;
    EXPECT_EQ(subhost::unloadApplication(1), 0);
    EXPECT_TRUE(boxes(144002).empty());
    EXPECT_NE(readFile(settingsPath).find("Backup=0\n"), std::string::npos);
}

TEST_F(Unload, UnchangedSettingsUnloadWithoutQuestion) {
    s__globals.Backup = 1;
    s__globals.FirstRunUnderV10 = 1;  // not among the compared options
    EXPECT_EQ(subhost::unloadApplication(1), 0);
    EXPECT_TRUE(events("messageBox").empty());
}

TEST_F(Unload, UnloadKeyinGoesThroughHostQueue) {
    subhost::queueAnswer(ACTIONBUTTON_CANCEL);
    keyin("PXMEND UNLOAD");
    EXPECT_TRUE(subhost::applicationLoaded());
    subhost::queueAnswer(ACTIONBUTTON_NO);
    keyin("PXMEND UNLOAD");
    EXPECT_FALSE(subhost::applicationLoaded());
    EXPECT_EQ(boxes(144002).size(), 2u);
}

TEST_F(Unload, ReloadAfterUnloadStartsFresh) {
    subhost::queueAnswer(ACTIONBUTTON_OK);
    ASSERT_EQ(subhost::unloadApplication(1), 0);
    v_activeCommandSet(CMD_STAMP);
    load();
    EXPECT_EQ(activeCommand(), CMD_NONE);
    EXPECT_EQ(s__globals.Backup, 0);
}

// ---- The question in a session script ----

// Makes folder the current folder for the life of the object.
class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::filesystem::path& folder) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~ScopedCurrentFolder() {
        std::error_code ignored;
        std::filesystem::current_path(saved_, ignored);
    }
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

private:
    std::filesystem::path saved_;
};

class UnloadSession : public FrameTest {
protected:
    // Runs script, written into folder, through the session runner from another current folder;
    // gives the texts of the settings questions it showed.
    std::vector<std::string> questions(const std::filesystem::path& folder, const std::string& script) {
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "unload.session") << script;
        std::filesystem::create_directories(elsewhere());
        subhost::SessionOptions options;
        options.linkedMain = &MdlMain;
        options.linkedResources = &MdlResources;
        options.defaultAnswer = ACTIONBUTTON_YES;
        std::ostringstream out, err;
        {
            ScopedCurrentFolder current(elsewhere());
            EXPECT_EQ(subhost::runSession((folder / "unload.session").string(), options, out, err), 0) << err.str();
        }
        std::vector<std::string> texts;
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);) {
            const auto event = nlohmann::json::parse(line);
            if (event.value("event", "") == "messageBox" && event.value("dialog", 0) == 144002)
                texts.push_back(event.value("text", ""));
        }
        return texts;
    }

    static std::string question(const std::filesystem::path& settings) {
        return "Your PixelMend settings have changed.\nSettings file name: " + settings.string();
    }

    // The current folder the sessions run from.
    std::filesystem::path elsewhere() const { return dir / "elsewhere"; }
};

// A non-ASCII folder name comes out as the same UTF-8 text, and a relative settings
// path is the full path of the file beside the script, wherever the session runs from.
TEST_F(UnloadSession, QuestionNamesTheFullSettingsPathInUtf8) {
    const std::filesystem::path scripts = dir / "jos\xC3\xA9";
    const std::string change = "load\nset Backup 0\nanswer ok\nunload\n";

    const auto relative = questions(scripts, "cfg PXMEND_SETTINGS cfg/Pxmend.ini\n" + change);
    EXPECT_EQ(relative, std::vector<std::string>{question(scripts / "cfg" / "Pxmend.ini")});
    EXPECT_NE(readFile(scripts / "cfg" / "Pxmend.ini").find("Backup=0\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(elsewhere() / "cfg"));

    const std::filesystem::path home = dir / "home" / "jos\xC3\xA9";
    ScopedEnv homeEnv("HOME", home.string());
    ScopedEnv xdgEnv("XDG_CONFIG_HOME", "");
    const auto fromHome = questions(scripts, "cfg PXMEND_SETTINGS\n" + change);
    const auto homeSettings = home / ".config" / "pixelmend" / "Pxmend.ini";
    EXPECT_EQ(fromHome, std::vector<std::string>{question(homeSettings)});
    EXPECT_NE(readFile(homeSettings).find("Backup=0\n"), std::string::npos);
}

}  // namespace
