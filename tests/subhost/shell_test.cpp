// The desktop association of files with programs: a fake XDG tree in a temporary folder, and a
// fake program that records the arguments it was started with.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/scoped_env.h"
#include "subhost/shell.h"

namespace fs = std::filesystem;
using subhost::shell::associatedCommand;
using subhost::shell::fileMimeType;
using subhost::shell::splitCommandLine;
using subhost::shell::startDetached;
using subhost::shell::waitForStarted;

namespace {

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A home folder of its own with the XDG variables pointing into it, and no system folders.
class ShellTest : public ::testing::Test {
protected:
    fs::path root = fs::temp_directory_path() / ("pxm-shell-" + std::to_string(::getpid()));
    fs::path config = root / "config";
    fs::path data = root / "data";
    fs::path sysConfig = root / "etc-xdg";
    fs::path sysData = root / "usr-share";
    ScopedEnv home{"HOME", (root / "home").string()};
    ScopedEnv xdgConfig{"XDG_CONFIG_HOME", config.string()};
    ScopedEnv xdgData{"XDG_DATA_HOME", data.string()};
    ScopedEnv xdgConfigDirs{"XDG_CONFIG_DIRS", sysConfig.string()};
    ScopedEnv xdgDataDirs{"XDG_DATA_DIRS", sysData.string()};

    void SetUp() override { fs::create_directories(root); }
    void TearDown() override { fs::remove_all(root); }

    void desktop(const fs::path& dir, const std::string& id, const std::string& exec, const std::string& extra = "") {
        writeText(dir / "applications" / id,
                  "[Desktop Entry]\nType=Application\nName=Fake\nExec=" + exec + "\n" + extra);
    }
    fs::path tiff() {
        const fs::path file = root / "map.tif";
        writeText(file, std::string("II*\0\x08\0\0\0", 8));
        return file;
    }
};

TEST_F(ShellTest, TypeComesFromContentBeforeExtension) {
    writeText(root / "a.png", std::string("II*\0\x08\0\0\0", 8));
    writeText(root / "b.TIFF", "not a picture");
    writeText(root / "c.dat", "%PDF-1.4\n");
    writeText(root / "d.xyz", "nothing known");
    EXPECT_EQ(fileMimeType((root / "a.png").string()), "image/tiff");
    EXPECT_EQ(fileMimeType((root / "b.TIFF").string()), "image/tiff");
    EXPECT_EQ(fileMimeType((root / "c.dat").string()), "application/pdf");
    EXPECT_EQ(fileMimeType((root / "d.xyz").string()), "");
    EXPECT_EQ(fileMimeType((root / "missing.gif").string()), "image/gif");
}

TEST_F(ShellTest, DefaultsAreSearchedInPriorityOrder) {
    const std::string file = tiff().string();
    desktop(data, "low.desktop", "low-editor %f");
    desktop(sysData, "sys.desktop", "sys-editor --edit %U --end");
    // Nothing names the type yet, and nothing declares it.
    EXPECT_TRUE(associatedCommand(file).empty());
    writeText(sysData / "applications" / "mimeapps.list", "[Default Applications]\nimage/tiff=sys.desktop\n");
    EXPECT_EQ(associatedCommand(file), (std::vector<std::string>{"sys-editor", "--edit", file, "--end"}));
    // The user's config folder outranks the data folders; an entry not installed is skipped.
    writeText(config / "mimeapps.list",
              "[Default Applications]\nimage/png=other.desktop\nimage/tiff=gone.desktop;low.desktop;\n");
    EXPECT_EQ(associatedCommand(file), (std::vector<std::string>{"low-editor", file}));
}

TEST_F(ShellTest, AddedDeclaredAndRemovedAssociations) {
    const std::string file = tiff().string();
    desktop(data, "declares.desktop", "declaring \"%f\"", "MimeType=image/png;image/tiff;\n");
    EXPECT_EQ(associatedCommand(file), (std::vector<std::string>{"declaring", file}));
    desktop(data, "added.desktop", "added");
    writeText(sysConfig / "mimeapps.list", "[Added Associations]\nimage/tiff=added.desktop\n");
    // No field code: the file goes last.
    EXPECT_EQ(associatedCommand(file), (std::vector<std::string>{"added", file}));
    writeText(config / "mimeapps.list", "[Removed Associations]\nimage/tiff=added.desktop;declares.desktop\n");
    EXPECT_TRUE(associatedCommand(file).empty());
}

TEST_F(ShellTest, HiddenBrokenAndHostileEntriesAreSkipped) {
    const std::string file = tiff().string();
    desktop(data, "hidden.desktop", "hidden %f", "Hidden=true\n");
    desktop(sysData, "hidden.desktop", "shadowed %f");
    writeText(data / "applications" / "noexec.desktop", "[Desktop Entry]\nName=x\n");
    desktop(data, "good.desktop", "good %%literal %c %f");
    writeText(config / "mimeapps.list",
              "garbage before any section\n[Default Applications]\nimage/tiff=../../etc/passwd;hidden.desktop;"
              "noexec.desktop;good.desktop\n");
    EXPECT_EQ(associatedCommand(file), (std::vector<std::string>{"good", "%literal", "Fake", file}));
    // A list too large to be a user's file is not read.
    writeText(config / "mimeapps.list",
              "[Default Applications]\nimage/tiff=good.desktop\n#" + std::string(2 << 20, 'x') + "\n");
    EXPECT_TRUE(associatedCommand(file).empty());
}

TEST(ShellSplit, QuotesAndEscapes) {
    EXPECT_EQ(splitCommandLine("  prog  -a \"two words\" \"q\\\"uote\" x\"y z\""),
              (std::vector<std::string>{"prog", "-a", "two words", "q\"uote", "xy z"}));
    EXPECT_EQ(splitCommandLine("prog \"\""), (std::vector<std::string>{"prog", ""}));
    EXPECT_TRUE(splitCommandLine("prog \"open").empty());
    EXPECT_TRUE(splitCommandLine("   ").empty());
}

TEST_F(ShellTest, StartedProgramGetsItsArgumentsAndIsWaitedFor) {
    const fs::path script = root / "record.sh";
    const fs::path log = root / "argv.txt";
    writeText(script, "#!/bin/sh\nsleep 0.3\nfor a in \"$@\"; do echo \"$a\"; done > \"" + log.string() + "\"\n");
    ::chmod(script.c_str(), 0755);
    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(startDetached({script.string(), "one", "two words"}), 0);
    // Not waited for at the start.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(250));
    EXPECT_TRUE(waitForStarted(10));
    EXPECT_EQ(readText(log), "one\ntwo words\n");
    EXPECT_EQ(startDetached({(root / "no-such-program").string()}), ENOENT);
    EXPECT_EQ(startDetached({}), EINVAL);
    writeText(root / "plain.txt", "x");
    EXPECT_EQ(startDetached({(root / "plain.txt").string()}), EACCES);
}

TEST_F(ShellTest, WaitGivesUpAtItsLimit) {
    ASSERT_EQ(startDetached({"sleep", "2"}), 0);
    EXPECT_FALSE(waitForStarted(0.1));
    EXPECT_TRUE(waitForStarted(10));
}

}  // namespace
