// The settings file: the writer's exact text, the reader's rules, hostile files
// and writes that fail.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "settings/settings_file.h"
#include "settings_fixture.h"

namespace settings_test {
namespace {

// The factory record (BorderColor 4) as the writer must write it.
const char* const k_factoryText =
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

// The text of the keyed fields of the current record (what a file would hold).
std::string keyedText() { return s_settingsText(s__globals, "-"); }

// Everything after the first line of text.
std::string afterFirstLine(const std::string& text) { return text.substr(text.find('\n') + 1); }

using SettingsWriterTest = SettingsTest;

TEST_F(SettingsWriterTest, FactoryTextIsExact) {
    s__globals.BorderColor = 4;
    EXPECT_EQ(s_settingsText(s__globals, "Friday, 4 December 2026  2:46 am"), k_factoryText);
}

TEST_F(SettingsWriterTest, FileHoldsTheDateLineThenTheKeysInOrder) {
    s__globals.BorderColor = 4;
    ASSERT_EQ(j_settingsWrite(false, true), 0);
    const std::string text = fileText(settingsPath());
    const std::string firstLine = text.substr(0, text.find('\n'));
    EXPECT_TRUE(std::regex_match(firstLine, std::regex("Date created=[A-Z][a-z]+day, [0-9]{1,2} [A-Z][a-z]+ "
                                                       "[0-9]{4}  [0-9]{1,2}:[0-9]{2} [ap]m")))
        << firstLine;
    EXPECT_EQ(afterFirstLine(text), afterFirstLine(k_factoryText));
    EXPECT_TRUE(messageTexts().empty());
}

TEST_F(SettingsWriterTest, TextsAndNegativeNumbersAreWrittenAsTheyAre) {
    s__globals.Interface = -3;
    std::snprintf(s__globals.ScratchDir, sizeof s__globals.ScratchDir, "/data/My Scratch=1");
    s__globals.CanvasColor = {255, 128, 7};
    std::snprintf(s__globals.LineStyle[3], sizeof s__globals.LineStyle[3], "2,2");
    const std::string text = s_settingsText(s__globals, "now");
    EXPECT_NE(text.find("\nInterface=-3\n"), std::string::npos);
    EXPECT_NE(text.find("\nScratchDir=/data/My Scratch=1\n"), std::string::npos);
    EXPECT_NE(text.find("\nCanvasColor=255,128,7\n"), std::string::npos);
    EXPECT_NE(text.find("\nLineStyle3=2,2\n"), std::string::npos);
}

TEST_F(SettingsWriterTest, RoundTripGivesNoChange) {
    s__globals.Backup = 0;
    s__globals.CanvasColor = {10, 20, 30};
    s__globals.LineWeight[31] = 99;
    std::snprintf(s__globals.ScratchDir, sizeof s__globals.ScratchDir, "/tmp/scratch dir");
    ASSERT_EQ(j_settingsWrite(false, false), 0);
    const std::string written = keyedText();
    v_settingsDefaults();
    ASSERT_EQ(j_settingsRead(false, false), 0);
    EXPECT_EQ(keyedText(), written);
    EXPECT_FALSE(b_settingsChanged());
}

TEST_F(SettingsWriterTest, ReplacingKeepsPermissionsAndLeavesNoTemporaryFile) {
    fileWrite(settingsPath(), "Backup=0\n");
    ::chmod(settingsPath().c_str(), 0640);
    ASSERT_EQ(j_settingsWrite(false, true), 0);
    struct stat info {};
    ASSERT_EQ(::stat(settingsPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

// Writes that cannot happen: the message names the file, the old file and the
// change state stay as they were.
class SettingsWriteFailureTest : public SettingsTest {
protected:
    void expectRefused(const fs::path& path) {
        s__globals.Backup = 0;
        subhost::clearTranscript();
        EXPECT_EQ(j_settingsWrite(false, true), 32768);
        EXPECT_EQ(messageTexts(), std::vector<std::string>{"Unable to write settings file " + path.string() + "."});
        const auto boxes = events("messageBox");
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].value("dialog", 0), -97);
        EXPECT_EQ(boxes[0].value("icon", 0), 4);
        EXPECT_TRUE(b_settingsChanged());
        EXPECT_EQ(settingsPath(), path);
    }
};

TEST_F(SettingsWriteFailureTest, DirectoryAtThePath) {
    const fs::path path = dir / "taken.ini";
    fs::create_directory(path);
    fileWrite(path / "inside", "kept");
    setFileName(path);
    expectRefused(path);
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(fileText(path / "inside"), "kept");
}

TEST_F(SettingsWriteFailureTest, PathBelowARegularFile) {
    fileWrite(dir / "plain", "kept");
    const fs::path path = dir / "plain" / "Pxmend.ini";
    setFileName(path);
    expectRefused(path);
    EXPECT_EQ(fileText(dir / "plain"), "kept");
}

TEST_F(SettingsWriteFailureTest, WriteProtectedFileIsLeftAlone) {
    fileWrite(settingsPath(), "Backup=1\n");
    ::chmod(settingsPath().c_str(), 0444);
    expectRefused(settingsPath());
    EXPECT_EQ(fileText(settingsPath()), "Backup=1\n");
}

TEST_F(SettingsWriteFailureTest, NoMessageWithoutReport) {
    fs::create_directory(settingsPath());
    EXPECT_EQ(j_settingsWrite(false, false), 32768);
    EXPECT_TRUE(messageTexts().empty());
}

// The reader: a file text applied to the factory record.
class SettingsReaderTest : public SettingsTest {
protected:
    int readText(const std::string& text, bool report = true) {
        fileWrite(settingsPath(), text);
        subhost::clearTranscript();
        return j_settingsRead(false, report);
    }
};

TEST_F(SettingsReaderTest, OnlyBackupLineChangesOnlyBackup) {
    std::string expected = keyedText();
    expected.replace(expected.find("\nBackup=1\n"), 10, "\nBackup=0\n");
    ASSERT_EQ(readText("Backup=0\n"), 0);
    EXPECT_EQ(keyedText(), expected);
    EXPECT_EQ(s__globals.ScaleX, 1.0);
    EXPECT_TRUE(messageTexts().empty());
}

TEST_F(SettingsReaderTest, SkipsCommentsBlankKeysLinesWithoutEqualsAndUnknownKeys) {
    const std::string before = keyedText();
    ASSERT_EQ(readText("#Backup=0\n\nBackup =0\n backup=0\nBackup\nDate created=Friday\nColour=3\nbackup=0\n"
                       "FirstRun=0\nCanvasColorIndex 9\n"),
              0);
    EXPECT_EQ(keyedText(), before);
}

TEST_F(SettingsReaderTest, ValuesAreNotTrimmedAndKeepEqualsSigns) {
    ASSERT_EQ(readText("ScratchDir= /a=b \nLineStyle2=1, 2\n"), 0);
    EXPECT_STREQ(s__globals.ScratchDir, " /a=b ");
    EXPECT_STREQ(s__globals.LineStyle[2], "1, 2");
}

TEST_F(SettingsReaderTest, LineStyleIsReplacedAndWrittenBack) {
    ASSERT_EQ(readText("LineStyle3=2,2\n"), 0);
    EXPECT_STREQ(s__globals.LineStyle[3], "2,2");
    EXPECT_NE(keyedText().find("\nLineStyle3=2,2\n"), std::string::npos);
}

TEST_F(SettingsReaderTest, CanvasColorIndexAndCanvasColorAreSeparate) {
    ASSERT_EQ(readText("CanvasColorIndex=7\nCanvasColor=10,20,30\n"), 0);
    EXPECT_EQ(s__globals.CanvasColorIndex, 7);
    EXPECT_EQ(s__globals.CanvasColor.red, 10);
    EXPECT_EQ(s__globals.CanvasColor.green, 20);
    EXPECT_EQ(s__globals.CanvasColor.blue, 30);
}

TEST_F(SettingsReaderTest, CanvasColorComponentsAreClampedAndMissingOnesKept) {
    s__globals.CanvasColor = {1, 2, 3};
    ASSERT_EQ(readText("CanvasColor=300,-5\n"), 0);
    EXPECT_EQ(s__globals.CanvasColor.red, 255);
    EXPECT_EQ(s__globals.CanvasColor.green, 0);
    EXPECT_EQ(s__globals.CanvasColor.blue, 3);
}

TEST_F(SettingsReaderTest, NumbersAreReadLikeAtoi) {
    ASSERT_EQ(readText("ModifyMode=  -12abc\nStampMode=abc\nDeskewMode=+7\nDespeckleX=99999999999\n"
                       "DespeckleY=-99999999999\nLineWeight4=\t 6 px\n"),
              0);
    EXPECT_EQ(s__globals.ModifyMode, -12);
    EXPECT_EQ(s__globals.StampMode, 0);
    EXPECT_EQ(s__globals.DeskewMode, 7);
    EXPECT_EQ(s__globals.DespeckleX, 2147483647);
    EXPECT_EQ(s__globals.DespeckleY, -2147483647 - 1);
    EXPECT_EQ(s__globals.LineWeight[4], 6);
}

TEST_F(SettingsReaderTest, IndexesAndLengthsBeyondTheLimitsAreSkipped) {
    const std::string before = keyedText();
    const std::string style64(64, '1');
    const std::string dir256(256, 'd');
    ASSERT_EQ(readText("LineWeight32=5\nLineWeight-1=5\nLineStyle8=3\nLineStyle-1=3\nLineStyle0=" + style64 +
                       "\nScratchDir=" + dir256 + "\n"),
              0);
    EXPECT_EQ(keyedText(), before);

    const std::string style63(63, '2');
    const std::string dir255(255, 'e');
    ASSERT_EQ(readText("LineWeight31=5\nLineStyle7=" + style63 + "\nScratchDir=" + dir255 + "\n"), 0);
    EXPECT_EQ(s__globals.LineWeight[31], 5);
    EXPECT_EQ(s__globals.LineStyle[7], style63);
    EXPECT_EQ(s__globals.ScratchDir, dir255);
}

TEST_F(SettingsReaderTest, LongLineGoesOnAsAnotherLine) {
    // 1023 characters are one chunk; what follows on the same line is read as a line of its own.
    const std::string filler = "Remark=" + std::string(1023 - 7, 'x');
    ASSERT_EQ(readText(filler + "Backup=0\n" + std::string(1023, 'y') + "\nStampMode=3\n"), 0);
    EXPECT_EQ(s__globals.Backup, 0);
    EXPECT_EQ(s__globals.StampMode, 3);
}

TEST_F(SettingsReaderTest, WindowsLineEndsAndMissingLastNewline) {
    ASSERT_EQ(readText("ScratchDir=/s\r\nBackup=0\r\nStampMode=3"), 0);
    EXPECT_STREQ(s__globals.ScratchDir, "/s");
    EXPECT_EQ(s__globals.Backup, 0);
    EXPECT_EQ(s__globals.StampMode, 3);
}

TEST_F(SettingsReaderTest, NulByteEndsItsLine) {
    ASSERT_EQ(readText(std::string("ScratchDir=/a\0/b\nBackup=0\n", 26)), 0);
    EXPECT_STREQ(s__globals.ScratchDir, "/a");
    EXPECT_EQ(s__globals.Backup, 0);
}

TEST_F(SettingsReaderTest, BinaryJunkDoesNoHarm) {
    std::string junk;
    unsigned state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        junk += static_cast<char>(state >> 16);
    }
    EXPECT_EQ(readText(junk), 0);
}

TEST_F(SettingsReaderTest, MissingFile) {
    subhost::clearTranscript();
    EXPECT_EQ(j_settingsRead(false, false), -1);
    EXPECT_TRUE(messageTexts().empty());
    EXPECT_EQ(j_settingsRead(false, true), -1);
    EXPECT_EQ(messageTexts(), std::vector<std::string>{"Settings file " + settingsPath().string() + " doesn't exist."});
}

TEST_F(SettingsReaderTest, DirectoryIsUnreadable) {
    fs::create_directory(settingsPath());
    const std::string before = keyedText();
    EXPECT_EQ(j_settingsRead(false, true), -2);
    EXPECT_EQ(messageTexts(), std::vector<std::string>{"Unable to read settings file " + settingsPath().string() + "."});
    EXPECT_EQ(keyedText(), before);
}

TEST_F(SettingsReaderTest, DevicesAndPipesAreRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo((dir / "pipe.ini").c_str(), 0600), 0);
    for (const fs::path& path : {dir / "pipe.ini", fs::path("/dev/zero")}) {
        setFileName(path);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(j_settingsRead(false, false), -2) << path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}

TEST_F(SettingsReaderTest, HugeFileIsRefusedAndChangesNothing) {
    const std::string before = keyedText();
    EXPECT_EQ(readText("Backup=0\n" + std::string(SETTINGS_MAX_FILE_BYTES, '#')), -2);
    EXPECT_EQ(keyedText(), before);
    EXPECT_EQ(messageTexts(), std::vector<std::string>{"Unable to read settings file " + settingsPath().string() +
                                                       ": it is larger than 1 MB."});
}

}  // namespace
}  // namespace settings_test
