// A full disk is said in so many words. The disk is a tiny memory file system filled to the
// brim, mounted in a mount namespace of the test's own (unshare), so nothing outside sees it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "cli/command_runner.h"

namespace fs = std::filesystem;

namespace {

// Runs `pixelmend ARGS` (for a minute at most) with the folder `full` mounted as a full 4 KiB
// file system; the transcript and errors, or nullopt where this system lets no test mount one.
std::optional<std::string> runOnFullDisk(const fs::path& full, const std::string& args) {
    if (runCommandLine("unshare -rm true >/dev/null 2>&1").code != 0) return std::nullopt;
    fs::create_directories(full);
    const std::string line = "unshare -rm sh -c 'mount -t tmpfs -o size=4k none " + full.string() +
                             " && head -c 1048576 /dev/zero > " + full.string() + "/filler 2>/dev/null; " +
                             "timeout 60 " PXMEND_BIN_DIR "/pixelmend " + args + "' 2>&1";
    return runCommandLine(line).out;
}

}  // namespace

TEST(DiskFull, SettingsFileOnAFullDiskIsReportedAsSuch) {
    const fs::path dir = fs::temp_directory_path() / ("pxmend-diskfull-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "save.session") << "cfg PXMEND_SETTINGS " << (dir / "full" / "Pxmend.ini").string()
                                        << "\nload\nunload\n";
    const auto out = runOnFullDisk(dir / "full", "session " + (dir / "save.session").string() +
                                                     " --answers yes --app " PXMEND_BIN_DIR "/pxmend.so");
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (!out) GTEST_SKIP() << "this system lets no test mount a file system (unshare -rm)";
    EXPECT_NE(out->find("Unable to write settings file"), std::string::npos) << *out;
    EXPECT_NE(out->find("was not written: the disk is full"), std::string::npos) << *out;
}
