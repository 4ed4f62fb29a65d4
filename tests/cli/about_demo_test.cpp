// `pixelmend --version` and the part of the demo that shows the settings dialog,
// the manual and the About box, run as a user runs them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "command_runner.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = PXMEND_BIN_DIR "/pixelmend";
const std::string kApp = PXMEND_BIN_DIR "/pxmend.so";

// True when both paths name the same existing file.
bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

// Lines of text.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(Version, PrintsTheVersionAndBuildLinesOfTheAddOn) {
    if (!fs::exists(kApp)) GTEST_SKIP() << "the add-on is not built";
    const CommandOutput out = runCommandLine(kBin + " --version 2>/dev/null");
    EXPECT_EQ(out.code, 0);
    const auto lines = linesOf(out.out);
    ASSERT_EQ(lines.size(), 2u) << out.out;
    EXPECT_EQ(lines[0], "PixelMend 10.0a (build 8)");
    // The build line as the About box shows it: the library's date, the time on a 12-hour clock.
    static const std::regex built(
        "Product built:  [1-9][0-9]? (January|February|March|April|May|June|July|August|September|October|"
        "November|December) [0-9]{4} (1[0-2]|[1-9]):[0-5][0-9](am|pm)");
    EXPECT_TRUE(std::regex_match(lines[1], built)) << lines[1];

    // An add-on that cannot be loaded is named, with exit code 1.
    const CommandOutput missing = runCommandLine("PIXELMEND_APP=/nonexistent/pxmend.so " + kBin + " --version 2>&1");
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.out.find("cannot read the version of /nonexistent/pxmend.so"), std::string::npos) << missing.out;
}

TEST(Demo, ChangesALineWeightCancelsKeepsItWithOkAndShowsHelpAndAbout) {
    if (!fs::exists(kApp)) GTEST_SKIP() << "the add-on is not built";
    const fs::path dir = fs::temp_directory_path() / ("pixelmend-about-demo-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    // Without a display no PDF viewer is started.
    const CommandOutput out =
        runCommandLine("env -u DISPLAY -u WAYLAND_DISPLAY " + kBin + " demo '" + dir.string() + "' 2>/dev/null");
    EXPECT_EQ(out.code, 0) << out.out;
    std::vector<nlohmann::json> events;
    std::ifstream transcript(dir / "transcript.jsonl");
    for (std::string line; std::getline(transcript, line);) events.push_back(nlohmann::json::parse(line));
    fs::remove_all(dir);

    // The settings dialog opened twice; line weight 3 read back after each close: 4 after the cancel,
    // 6 after OK.
    int opened = 0;
    std::vector<int> weight3;
    for (const auto& e : events) {
        if (e.value("event", "") == "dialog" && e.value("action", "") == "opened" && e.value("id", 0) == 144001)
            ++opened;
        if (e.value("event", "") == "settings" && opened > 0)
            weight3.push_back(e["fields"]["LineWeight"][3].get<int>());
    }
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(weight3, (std::vector<int>{4, 6})) << "cancelled, then kept with OK and saved at unload";

    // Help at "delete" in the manual beside the add-on, and the About box.
    const std::string manual = PXMEND_BIN_DIR "/Pxmendv8.pdf";
    bool help = false, about = false;
    for (const auto& e : events) {
        if (e.value("event", "") == "help")
            help = e.value("destination", "") == "delete" && sameFile(e.value("file", ""), manual) &&
                   e.value("result", "") == "noDisplay";
        if (e.value("event", "") == "about")
            about = e.value("product", "") == "PixelMend" && e.value("version", "") == "10.0a (build 8)";
    }
    EXPECT_TRUE(help);
    EXPECT_TRUE(about);
    // The demo's account says where help went, the demo where the manual is, and it is there.
    int helpLines = 0;
    bool said = false;
    for (const auto& line : linesOf(out.out)) {
        helpLines += line == "  manual " + manual + " at \"delete\": no display, so no viewer started";
        if (line.rfind("  manual         : ", 0) == 0) said = sameFile(line.substr(19), manual);
    }
    EXPECT_EQ(helpLines, 1) << out.out;
    EXPECT_TRUE(said) << out.out;
}

}  // namespace
