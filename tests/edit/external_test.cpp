// Edit in an external program: an editor of the test's own (a script that records its arguments and
// puts other pixels into the file) registered for TIFF files through a temporary XDG tree; the
// edited copy's name, the backup, the Open With answers, the busy file, the shell's error texts.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "common/scoped_env.h"
#include "edit/external.h"
#include "edit_fixture.h"
#include "host/winapi.h"
#include "subhost/shell.h"

namespace {

namespace fs = std::filesystem;

constexpr int kContinue = 1;  // the action of the Continue box's one button

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ExternalTest : public EditTest {
protected:
    std::unique_ptr<ScopedEnv> xdgConfig, xdgData, xdgConfigDirs, xdgDataDirs;
    fs::path log, edited;

    void SetUp() override {
        EditTest::SetUp();
        xdgConfig = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", (dir / "config").string());
        xdgData = std::make_unique<ScopedEnv>("XDG_DATA_HOME", (dir / "data").string());
        xdgConfigDirs = std::make_unique<ScopedEnv>("XDG_CONFIG_DIRS", (dir / "none").string());
        xdgDataDirs = std::make_unique<ScopedEnv>("XDG_DATA_DIRS", (dir / "none").string());
        log = dir / "argv.txt";
        edited = dir / "edited-pixels.tif";
        // What the editor saves: the same size, every pixel 7.
        img::Image image = img::makeImage(100, 100, img::ColorMode::Grey8).image;
        for (auto& byte : image.pixels) byte = 7;
        ASSERT_EQ(img::createImageFile(edited.string(), img::FileFormat::Tiff, image).status, 0);
    }
    void TearDown() override {
        subhost::shell::waitForStarted(10);
        subhost::shell::clearOpenWithAnswers();
        EditTest::TearDown();
    }

    // A script that records its arguments, then runs body with the file as $1.
    fs::path script(const std::string& name, const std::string& body) {
        const fs::path path = dir / name;
        std::ofstream(path) << "#!/bin/sh\necho \"$@\" >> '" << log.string() << "'\n" << body << "\n";
        ::chmod(path.c_str(), 0755);
        return path;
    }
    // Registers program as the default TIFF editor.
    void associate(const fs::path& program) {
        fs::create_directories(dir / "data" / "applications");
        std::ofstream(dir / "data" / "applications" / "fake-editor.desktop")
            << "[Desktop Entry]\nType=Application\nName=Fake editor\nExec=" << program.string() << " %f\n";
        fs::create_directories(dir / "config");
        std::ofstream(dir / "config" / "mimeapps.list") << "[Default Applications]\nimage/tiff=fake-editor.desktop\n";
    }
    fs::path copyingEditor() { return script("editor.sh", "cp '" + edited.string() + "' \"$1\""); }

    void edit() {
        command(rid::CMD_EDIT);
        point(50, 50);
    }
    std::vector<nlohmann::json> openWith() { return events("openWith"); }
};

TEST_F(ExternalTest, EditedInPlaceShowsTheNewPixelsAndTheBackupHoldsTheOldOnes) {
    associate(copyingEditor());
    startScan();
    s__globals.Backup = 1;
    subhost::queueAnswer(subhost::shell::kAnswerWait);
    edit();
    EXPECT_TRUE(shown("Once you are done editing the raster file")) << nlohmann::json(messages()).dump();
    EXPECT_EQ(readText(log), (dir / "scan.tif").string() + "\n");
    ASSERT_EQ(rasters().size(), 1u);
    EXPECT_EQ(pixel(rasters()[0], 10, 10), 7);
    const img::ImageResult backup = img::readImage((dir / "scan-backup.tif").string());
    ASSERT_TRUE(backup.ok) << backup.error;
    EXPECT_EQ(backup.image.pixels[std::size_t(10) * backup.image.stride + 10], patternAt(10, 10));
}

TEST_F(ExternalTest, EditedCopyTakesTheNextFreeNameAndIsAttached) {
    associate(copyingEditor());
    greyFile("map.tif", 100, 100);
    greyFile("map-edited.tif", 10, 10);
    start({{{"file", "map.tif"}}});
    s__globals.EditCopy = 1;
    subhost::queueAnswer(subhost::shell::kAnswerWait);
    edit();
    const fs::path copy = dir / "map-edited2.tif";
    EXPECT_EQ(readText(log), copy.string() + "\n");
    ASSERT_EQ(rasters().size(), 1u);
    EXPECT_EQ(rasters()[0]->path, copy.string());
    EXPECT_EQ(pixel(rasters()[0], 3, 4), 7);
    EXPECT_EQ(img::readImage((dir / "map.tif").string()).image.pixels[0], patternAt(0, 0));
    EXPECT_EQ(img::readImage((dir / "map-edited.tif").string()).image.width, 10);
}

TEST_F(ExternalTest, OpenWithIsAskedForActionOneAndForUnassociatedTypes) {
    associate(copyingEditor());
    startScan();
    const fs::path chooser = script("chosen.sh", "true");
    s__globals.ShellAction = 1;
    subhost::shell::queueOpenWithAnswer(chooser.string() + " --mode \"two words\"");
    subhost::queueAnswer(subhost::shell::kAnswerWait);
    edit();
    ASSERT_EQ(openWith().size(), 1u);
    EXPECT_EQ(openWith()[0]["answer"], chooser.string() + " --mode \"two words\"");
    EXPECT_EQ(readText(log), "--mode two words " + (dir / "scan.tif").string() + "\n");
    EXPECT_EQ(pixel(rasters()[0], 10, 10), patternAt(10, 10));  // the chosen program changed nothing

    // No association: Open With too, here cancelled by having no answer.
    fs::remove(dir / "config" / "mimeapps.list");
    s__globals.ShellAction = 0;
    subhost::clearTranscript();
    subhost::queueAnswer(kContinue);
    edit();
    ASSERT_EQ(openWith().size(), 1u);
    EXPECT_EQ(openWith()[0]["answer"], "cancel");
}

TEST_F(ExternalTest, BusyFileAsksAgainUntilTheLockIsGone) {
    associate(script("editor.sh", "true"));
    startScan();
    const std::string file = (dir / "scan.tif").string();
    // Another program holds a write lock on the file for a while.
    ASSERT_EQ(subhost::shell::startDetached({"flock", file, "sleep", "1.5"}), 0);
    for (int i = 0; i < 200 && ::access(file.c_str(), F_OK) == 0; ++i) {
        HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) break;
        CloseHandle(h);
        ::usleep(10000);
    }
    subhost::queueAnswer(kContinue);
    subhost::queueAnswer(subhost::shell::kAnswerWait);
    edit();
    const auto shownTexts = messages();
    ASSERT_EQ(shownTexts.size(), 3u) << nlohmann::json(shownTexts).dump();
    EXPECT_EQ(shownTexts[1], "Raster file is still busy.");
    EXPECT_EQ(shownTexts[0], shownTexts[2]);
}

TEST_F(ExternalTest, ShellFailuresGiveTheirTextsAndStatusMinusOne) {
    associate("/nonexistent-pxm/editor");
    startScan();
    char text[64] = {};
    EXPECT_EQ(j_shellExecute(0, (dir / "missing.tif").c_str(), text), -1);
    EXPECT_STREQ(text, "Unknown error");
    // A file that cannot be opened (a socket: even an administrator cannot open it).
    const fs::path socketPath = dir / "sock.tif";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(j_shellExecute(0, socketPath.c_str(), text), -1);
    EXPECT_STREQ(text, "Access denied");
    ::close(fd);

    // The associated program cannot start: no wait, the message centre says the status.
    edit();
    EXPECT_TRUE(messages().empty()) << nlohmann::json(messages()).dump();
    bool status = false;
    for (const auto& e : events("messageCenter")) status = status || e["brief"] == "status = -1";
    EXPECT_TRUE(status) << nlohmann::json(subhost::transcript()).dump();
    EXPECT_EQ(pixel(rasters()[0], 10, 10), patternAt(10, 10));
}

TEST_F(ExternalTest, EditorThatRemovesTheFileIsReportedAndTheBackupStays) {
    associate(script("editor.sh", "rm -f \"$1\""));
    startScan();
    s__globals.Backup = 1;
    subhost::queueAnswer(subhost::shell::kAnswerWait);
    edit();
    bool reported = false;
    for (const auto& e : events("messageCenter"))
        reported = reported || e.value("brief", "").find("again after editing") != std::string::npos;
    EXPECT_TRUE(reported) << nlohmann::json(subhost::transcript()).dump();
    EXPECT_TRUE(img::readImage((dir / "scan-backup.tif").string()).ok);
}

// An editor that saves another format and colour mode under the same name (a colour PNG into scan.tif,
// a grey TIFF): the attachment shows the colour pixels, its statistics are taken again (the canvas colour
// of the next edit is the new picture's dominant colour), that edit is written back in the editor's
// format, and the backup keeps the grey pixels.
TEST_F(ExternalTest, EditorThatWritesAnotherFormatIsFollowedAndTheBackupStays) {
    img::Image rgb = img::makeImage(100, 100, img::ColorMode::Rgb).image;
    for (int row = 0; row < 100; ++row)
        for (int x = 0; x < 100; ++x) {
            const bool blue = row >= 40 && row < 95 && x >= 5 && x < 55;  // around the block deleted below
            std::uint8_t* p = &rgb.pixels[std::size_t(row) * rgb.stride + std::size_t(x) * 3];
            p[0] = blue ? 0 : 90;  // the rest dark red: the dominant colour
            p[2] = blue ? 200 : 0;
        }
    ASSERT_EQ(img::createImageFile((dir / "colour.png").string(), img::FileFormat::Png, rgb).status, 0);
    associate(script("editor.sh", "cp '" + (dir / "colour.png").string() + "' \"$1\""));
    startScan();
    s__globals.Backup = 1;
    subhost::queueAnswer(subhost::shell::kAnswerWait);
    edit();
    ASSERT_EQ(rasters().size(), 1u);
    EXPECT_EQ(pixel(rasters()[0], 0, 0), 90);  // the first pixel's red byte
    EXPECT_EQ(rasters()[0]->file->image->mode, img::ColorMode::Rgb);
    s__globals.CanvasAuto = 1;
    subhost::clearTranscript();
    command(rid::CMD_DELETE);
    points({{10, 10}, {50, 50}, {10, 10}});
    EXPECT_TRUE(messages().empty()) << nlohmann::json(messages()).dump();
    subhost::closeDesign();
    const img::ImageResult after = img::readImage((dir / "scan.tif").string());
    ASSERT_TRUE(after.ok) << after.error;
    EXPECT_EQ(after.image.format, img::FileFormat::Png);
    const auto rgbAt = [&](int x, int row) {
        const std::uint8_t* p = &after.image.pixels[std::size_t(row) * after.image.stride + std::size_t(x) * 3];
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(rgbAt(30, 70), (std::array<int, 3>{90, 0, 0}));  // deleted: the new picture's paper
    EXPECT_EQ(rgbAt(7, 45), (std::array<int, 3>{0, 0, 200}));  // outside the block: the editor's pixels
    const img::ImageResult backup = img::readImage((dir / "scan-backup.tif").string());
    ASSERT_TRUE(backup.ok) << backup.error;
    EXPECT_EQ(backup.image.mode, img::ColorMode::Grey8);
    EXPECT_EQ(backup.image.pixels[std::size_t(70) * backup.image.stride + 30], patternAt(30, 70));
}

}  // namespace
