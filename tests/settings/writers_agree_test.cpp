// The add-on's settings file and the support library's data file are written by
// the same rules: for each kind of target, both writers succeed or fail alike and
// leave the same kind of file behind.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <functional>

#include "host/tovlib.h"
#include "settings/settings_file.h"
#include "settings_fixture.h"

namespace settings_test {
namespace {

// One of the two writers: writes the file at path; true when it reports success. isNew tells
// whether a file's bytes are what it wrote.
struct Writer {
    const char* name;
    std::function<bool(const fs::path& path)> write;
    std::function<bool(const std::string& bytes)> isNew;
};

// What a write left: its result, whether the target holds the new text or still the old one, its
// permission bits, whether the named path is still a symbolic link, and the folder's entry count.
struct Outcome {
    bool ok;
    bool newText;
    bool oldText;
    unsigned mode;
    bool link;
    long entries;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "{ok " << o.ok << ", new " << o.newText << ", old " << o.oldText << ", mode " << std::oct << o.mode
               << std::dec << ", link " << o.link << ", entries " << o.entries << "}";
}

const std::string k_old = "old text\n";

// Kinds of target, each set up in an empty folder: the named path and the file actually written.
struct Target {
    const char* name;
    std::function<fs::path(const fs::path& folder)> setUp;  // gives the path to write
    fs::path written;                                       // relative to the folder
    Outcome expected;
};

class WritersAgreeTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        oldMask = ::umask(022);
    }
    void TearDown() override {
        ::umask(oldMask);
        SettingsTest::TearDown();
    }

    std::vector<Writer> writers() {
        const std::string datText = "/x/" + std::string(200, 'p') + "/Pxmend.ini";
        return {
            {"settings file",
             [this](const fs::path& path) {
                 setFileName(path);
                 return j_settingsWrite(false, false) == 0;
             },
             [](const std::string& bytes) {
                 return bytes.find('\n') != std::string::npos &&
                        bytes.substr(bytes.find('\n') + 1) == afterDate(s_settingsText(s__globals, ""));
             }},
            {"data file",
             [datText](const fs::path& path) {
                 return b_settingDllUpdateSettingsDatFile(datText.c_str(), path.c_str());
             },
             [datText](const std::string& bytes) { return bytes == datText + "\n"; }},
        };
    }

    static std::string afterDate(const std::string& text) { return text.substr(text.find('\n') + 1); }

    // Runs writer on a fresh copy of target and tells what it left.
    Outcome outcomeOf(const Writer& writer, const Target& target, const std::string& folderName) {
        const fs::path folder = dir / folderName;
        fs::create_directories(folder);
        const fs::path path = target.setUp(folder);
        Outcome o{};
        o.ok = writer.write(path);
        const fs::path written = folder / target.written;
        const std::string bytes = fs::is_regular_file(written) ? fileText(written) : "";
        o.newText = writer.isNew(bytes);
        o.oldText = bytes == k_old;
        struct stat info {};
        o.mode = ::stat(written.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
        o.link = fs::is_symlink(path);
        o.entries = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
        ::chmod(written.c_str(), 0644);  // so that the scratch folder can be removed
        return o;
    }

    mode_t oldMask = 022;
};

// A file with the given mode holding the old text.
fs::path oldFile(const fs::path& path, mode_t mode) {
    fileWrite(path, k_old);
    ::chmod(path.c_str(), mode);
    return path;
}

TEST_F(WritersAgreeTest, EveryKindOfTargetEndsTheSameThroughBothWriters) {
    const Target targets[] = {
        {"new file",
         [](const fs::path& f) { return f / "Pxmend.ini"; },
         "Pxmend.ini",
         {true, true, false, 0644, false, 1}},
        {"file with its own mode",
         [](const fs::path& f) { return oldFile(f / "Pxmend.ini", 0600); },
         "Pxmend.ini",
         {true, true, false, 0600, false, 1}},
        {"symbolic link",
         [](const fs::path& f) {
             fs::create_directory(f / "real");
             oldFile(f / "real" / "Pxmend.ini", 0640);
             fs::create_symlink("real/Pxmend.ini", f / "Pxmend.ini");
             return f / "Pxmend.ini";
         },
         "real/Pxmend.ini",
         {true, true, false, 0640, true, 2}},
        {"write-protected file",
         [](const fs::path& f) { return oldFile(f / "Pxmend.ini", 0444); },
         "Pxmend.ini",
         {false, false, true, 0444, false, 1}},
        {"folder in the way",
         [](const fs::path& f) {
             fs::create_directory(f / "Pxmend.ini");
             return f / "Pxmend.ini";
         },
         "Pxmend.ini",
         {false, false, false, 0755, false, 1}},
    };
    int n = 0;
    for (const Target& target : targets) {
        std::vector<Outcome> outcomes;
        for (const Writer& writer : writers()) {
            outcomes.push_back(outcomeOf(writer, target, "case" + std::to_string(n++)));
            EXPECT_EQ(outcomes.back(), target.expected) << target.name << " through the " << writer.name;
        }
        EXPECT_EQ(outcomes.at(0), outcomes.at(1)) << target.name << ": the two writers disagree";
    }
}

// In a folder that takes no new file, a writable file is rewritten in place by either writer: the
// same file with its mode and the new text, nothing beside it. A write that fails half way (past
// the process's file size limit) puts the old text back.
TEST_F(WritersAgreeTest, FileInLockedFolderIsRewrittenInPlaceThroughBothWriters) {
    int n = 0;
    for (const Writer& writer : writers()) {
        const fs::path folder = dir / ("locked" + std::to_string(n++));
        fs::create_directory(folder);
        const fs::path path = oldFile(folder / "Pxmend.ini", 0640);
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        const int failed = j_writeInLockedFolder(folder, path, [&writer, &path] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit size{100, 100};  // more than the old text, less than either new one
            if (::setrlimit(RLIMIT_FSIZE, &size) != 0) return k_childSetupFailed;
            return writer.write(path) ? 1 : 0;
        });
        EXPECT_EQ(failed, 0) << writer.name << ": the write past the size limit did not fail";
        EXPECT_EQ(fileText(path), k_old) << writer.name;

        const int written =
            j_writeInLockedFolder(folder, path, [&writer, &path] { return writer.write(path) ? 0 : 1; });
        EXPECT_EQ(written, 0) << writer.name << ": the file was not rewritten";
        EXPECT_TRUE(writer.isNew(fileText(path))) << writer.name;
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << writer.name;
        EXPECT_EQ(after.st_mode & 07777, 0640u) << writer.name;
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << writer.name;
    }
}

}  // namespace
}  // namespace settings_test
