// The settings file: the writer's exact text, the reader's rules, hostile files
// and writes that fail.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <utility>

#include "settings/settings_file.h"
#include "settings_fixture.h"

namespace settings_test {
namespace {

// The factory record (BorderColor 4) as the writer must write it.
const std::string k_factoryText =
    "Date created=Friday, 4 December 2026  2:46 am\n"
    "Interface=2\nBorderColor=4\nResizeCopy=0\nCropCopy=0\nEditCopy=0\nBackup=1\nDisplayPrompts=1\n"
    "ScratchDirOption=0\nScratchDir=\n"
    "ModifyMode=1\nHybridMode=0\nStampMode=5\nStampDelete=1\nDeskewMode=0\nDeskewCorner=0\nDespeckleMode=5\n"
    "DespeckleX=1\nDespeckleY=1\nClipMethod=1\nMaskMethod=1\nShellAction=0\nResizeDestination=1\nMergePixels=0\n"
    "CreateNewFile=0\nDontShowV8iWarning=0\nFirstRunUnderV10=1\nCanvasAuto=1\nCanvasColorIndex=0\n"
    "CanvasColor=0,0,0\n"
    "LineWeight0=1\nLineWeight1=2\nLineWeight2=3\nLineWeight3=4\nLineWeight4=5\nLineWeight5=6\nLineWeight6=7\n"
    "LineWeight7=8\nLineWeight8=9\nLineWeight9=10\nLineWeight10=11\nLineWeight11=12\nLineWeight12=13\n"
    "LineWeight13=14\nLineWeight14=15\nLineWeight15=16\nLineWeight16=17\nLineWeight17=18\nLineWeight18=19\n"
    "LineWeight19=20\nLineWeight20=21\nLineWeight21=22\nLineWeight22=23\nLineWeight23=24\nLineWeight24=25\n"
    "LineWeight25=26\nLineWeight26=27\nLineWeight27=28\nLineWeight28=29\nLineWeight29=30\nLineWeight30=31\n"
    "LineWeight31=32\n"
    "LineStyle0=1\nLineStyle1=1,6\nLineStyle2=6,4\nLineStyle3=10,4\nLineStyle4=8,4,1,4\nLineStyle5=3,4\n"
    "LineStyle6=7,4,1,4,1,4\nLineStyle7=9,4,3,4\n";

std::string afterFirstLine(const std::string& text) { return text.substr(text.find('\n') + 1); }

// What the writer would write now, without the date line.
std::string keyedText() { return afterFirstLine(s_settingsText(s__globals, "")); }

using SettingsWriterTest = SettingsTest;

TEST_F(SettingsWriterTest, FactoryFileIsExact) {
    s__globals.BorderColor = 4;
    EXPECT_EQ(s_settingsText(s__globals, "Friday, 4 December 2026  2:46 am"), k_factoryText);
    char before[64], after[64];
    j_dateStamp(before);
    ASSERT_EQ(j_settingsWrite(false, true), 0);
    j_dateStamp(after);
    const std::string text = fileText(settingsPath());
    const std::string firstLine = text.substr(0, text.find('\n'));
    EXPECT_TRUE(firstLine == std::string("Date created=") + before || firstLine == std::string("Date created=") + after)
        << firstLine;
    EXPECT_EQ(afterFirstLine(text), afterFirstLine(k_factoryText));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // no temporary left
}

TEST_F(SettingsWriterTest, RoundTripGivesNoChange) {
    s__globals.Interface = -3;
    s__globals.CanvasColor = {255, 128, 7};
    std::snprintf(s__globals.ScratchDir, sizeof s__globals.ScratchDir, "/data/My Scratch=1");
    std::snprintf(s__globals.LineStyle[3], sizeof s__globals.LineStyle[3], "2,2");
    ASSERT_EQ(j_settingsWrite(false, false), 0);
    const std::string written = keyedText();
    v_settingsDefaults();
    ASSERT_EQ(j_settingsRead(false, false), 0);
    EXPECT_EQ(keyedText(), written);
    EXPECT_FALSE(b_settingsChanged());
}

TEST_F(SettingsWriterTest, SymbolicLinkIsWrittenThrough) {
    fs::create_directory(dir / "real");
    fs::create_symlink("real/Pxmend.ini", settingsPath());
    ASSERT_EQ(j_settingsWrite(false, false), 0);
    EXPECT_TRUE(fs::is_symlink(settingsPath()));
    EXPECT_EQ(afterFirstLine(fileText(dir / "real" / "Pxmend.ini")), keyedText());
}

// Reader cases: the file text and the "Key=value" lines by which the written
// record then differs from the factory one.
struct ReadCase {
    std::string file;
    std::vector<std::string> changed;
};

TEST_F(SettingsWriterTest, ReaderRules) {
    const ReadCase cases[] = {
        {"Backup=0\n", {"Backup=0"}},
        {"#Backup=0\n\nBackup =0\nbackup=0\nBackup\nDate created=x\nColour=3\n", {}},
        {"LineStyle3=2,2\n", {"LineStyle3=2,2"}},
        {"CanvasColorIndex=7\nCanvasColor=10,20,30\n", {"CanvasColorIndex=7", "CanvasColor=10,20,30"}},
        {"CanvasColor=300,-5\n", {"CanvasColor=255,0,0"}},
        {"ScratchDir= /a=b \n", {"ScratchDir= /a=b "}},
        {"ModifyMode=  -12abc\nStampMode=abc\nDeskewMode=+7\nDespeckleX=99999999999\nLineWeight4=\t6 px\n",
         {"ModifyMode=-12", "StampMode=0", "DeskewMode=7", "DespeckleX=2147483647", "LineWeight4=6"}},
        {"LineWeight32=5\nLineWeight-1=5\nLineStyle8=3\nLineStyle0=" + std::string(64, '1') +
             "\nScratchDir=" + std::string(256, 'd') + "\n",
         {}},
        {"LineWeight31=5\nLineStyle7=" + std::string(63, '2') + "\nScratchDir=" + std::string(255, 'e'),
         {"LineWeight31=5", "LineStyle7=" + std::string(63, '2'), "ScratchDir=" + std::string(255, 'e')}},
        // 1023 characters make one chunk; the rest of the line is read as a line of its own.
        {std::string(1023, 'x') + "Backup=0\n" + std::string(1023, 'y') + "\nStampMode=3\n",
         {"Backup=0", "StampMode=3"}},
        {"ScratchDir=/s\r\nBackup=0\r\n", {"ScratchDir=/s", "Backup=0"}},
        {std::string("ScratchDir=/a\0/b\nBackup=0\n", 26), {"ScratchDir=/a", "Backup=0"}},
    };
    for (const ReadCase& c : cases) {
        v_settingsDefaults();
        std::string expected = keyedText();
        for (const std::string& line : c.changed) {
            const std::string key = "\n" + line.substr(0, line.find('=') + 1);
            const std::size_t at = expected.find(key);
            ASSERT_NE(at, std::string::npos) << line;
            expected.replace(at + 1, expected.find('\n', at + 1) - at - 1, line);
        }
        fileWrite(settingsPath(), c.file);
        ASSERT_EQ(j_settingsRead(false, true), 0) << c.file;
        EXPECT_EQ(keyedText(), expected) << c.file;
    }
    EXPECT_TRUE(messageTexts().empty());
}

TEST_F(SettingsWriterTest, MissingUnreadableAndHostileFiles) {
    s__globals.Backup = 0;
    EXPECT_EQ(j_settingsRead(false, false), -1);
    EXPECT_EQ(j_settingsRead(false, true), -1);
    // Whether a directory counts as found is the host's file search's call: either
    // way the read is refused with a message naming it.
    fs::create_directory(dir / "dir.ini");
    setFileName(dir / "dir.ini");
    const int dirStatus = j_settingsRead(false, true);
    EXPECT_TRUE(dirStatus == -1 || dirStatus == -2) << dirStatus;
    EXPECT_NE(messageTexts().back().find((dir / "dir.ini").string()), std::string::npos);
    ASSERT_EQ(::mkfifo((dir / "pipe.ini").c_str(), 0600), 0);
    for (const fs::path& path : {dir / "pipe.ini", fs::path("/dev/zero")}) {
        setFileName(path);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(j_settingsRead(false, true), -2) << path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    EXPECT_EQ(s__globals.Backup, 0);  // a failed read changes nothing
    const std::vector<std::string> expected = {
        "Settings file " + (dir / "Pxmend.ini").string() + " doesn't exist.", messageTexts()[1],
        "Unable to read settings file " + (dir / "pipe.ini").string() + ".", "Unable to read settings file /dev/zero."};
    EXPECT_EQ(messageTexts(), expected);
}

// A file of any size is read to its end, line by line: 2 MiB of long comment lines
// and overlong lines between the first key and the last.
TEST_F(SettingsWriterTest, LargeFileIsReadToItsEnd) {
    std::string text = "Backup=0\r\n";
    const std::string comment = "# " + std::string(3000, 'c') + "\n";
    while (text.size() < (2u << 20)) text += comment;
    text += std::string(5000, 'x') + "\nStampMode=3\nLineStyle2=" + std::string(2000, '9') + "\nDeskewMode=2";
    fileWrite(settingsPath(), text);
    ASSERT_EQ(j_settingsRead(false, true), 0);
    EXPECT_EQ(s__globals.Backup, 0);
    EXPECT_EQ(s__globals.StampMode, 3);
    EXPECT_STREQ(s__globals.LineStyle[2], "6,4");  // too long for the field: kept
    EXPECT_EQ(s__globals.DeskewMode, 2);
    EXPECT_TRUE(messageTexts().empty());
    EXPECT_TRUE(fileText(settingsPath()) == text) << "the settings file changed";
}

TEST_F(SettingsWriterTest, FailedWriteLeavesTheOldFileAndTheChangeState) {
    fs::create_directory(dir / "taken.ini");
    fileWrite(dir / "taken.ini" / "inside", "kept");
    fileWrite(dir / "plain", "kept");
    fileWrite(dir / "protected.ini", "Backup=1\n");
    ::chmod((dir / "protected.ini").c_str(), 0444);
    s__globals.Backup = 0;
    for (const fs::path& path : {dir / "taken.ini", dir / "plain" / "Pxmend.ini", dir / "protected.ini"}) {
        setFileName(path);
        subhost::clearTranscript();
        EXPECT_EQ(j_settingsWrite(false, true), 32768);
        EXPECT_EQ(messageTexts(), std::vector<std::string>{"Unable to write settings file " + path.string() + "."});
        EXPECT_EQ(events("messageBox").at(0).value("icon", 0), 4);
        EXPECT_TRUE(b_settingsChanged());
        EXPECT_EQ(j_settingsWrite(false, false), 32768);
    }
    EXPECT_EQ(fileText(dir / "taken.ini" / "inside"), "kept");
    EXPECT_EQ(fileText(dir / "plain"), "kept");
    EXPECT_EQ(fileText(dir / "protected.ini"), "Backup=1\n");
    EXPECT_EQ(messageTexts().size(), 1u);  // the silent write showed nothing
}

// ---- A writable settings file in a folder where nothing can be created ----

// The file is rewritten in place: the same file with its mode, the new text, nothing left
// beside it. A write that fails half way (here: past the process's file size limit) puts
// the old text back.
TEST_F(SettingsWriterTest, WritableFileInLockedFolderIsRewrittenInPlace) {
    const fs::path folder = dir / "locked";
    fs::create_directory(folder);
    setFileName(folder / "Pxmend.ini");
    const std::string old = "Backup=1\nStampMode=1\n";
    fileWrite(settingsPath(), old);
    ::chmod(settingsPath().c_str(), 0640);
    struct stat before {};
    ASSERT_EQ(::stat(settingsPath().c_str(), &before), 0);
    s__globals.Backup = 0;

    // Larger than the old text and smaller than the new one.
    const rlim_t limit = 200;
    const int failed = j_writeInLockedFolder(folder, settingsPath(), [limit] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit size{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &size) != 0) return k_childSetupFailed;
        return j_settingsWrite(false, false) == 32768 ? 0 : 1;
    });
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(fileText(settingsPath()), old);

    const int written =
        j_writeInLockedFolder(folder, settingsPath(), [] { return j_settingsWrite(false, true) == 0 ? 0 : 1; });
    EXPECT_EQ(written, 0);
    EXPECT_EQ(afterFirstLine(fileText(settingsPath())), keyedText());
    struct stat after {};
    ASSERT_EQ(::stat(settingsPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace settings_test
