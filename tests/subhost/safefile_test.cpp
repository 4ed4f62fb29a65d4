// Safe replacement of files: nothing planted at a temporary name is followed, two
// writers never share a temporary, a lock held by another process makes a writer
// wait or give up with a clear reason, and stale working files of dead processes go.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/mdlsystem.h"
#include "host/utf8text.h"
#include "subhost/host_fixture.h"
#include "subhost/safefile.h"

namespace fs = std::filesystem;
namespace sf = subhost::safefile;

namespace {

class SafeFile : public HostTest {
protected:
    fs::path dir;
    void SetUp() override {
        HostTest::SetUp();
        char pattern[] = "/tmp/pxmend-safefile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
        HostTest::TearDown();
    }
    std::string file(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

// A child process that holds the lock on path until the parent writes to its pipe.
struct LockHolder {
    pid_t pid = -1;
    int release[2] = {-1, -1};
    explicit LockHolder(const std::string& path) {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            std::string error;
            auto lock = sf::FileLock::acquire(path, 0, &error);
            char c = lock ? 'y' : 'n';
            if (::write(ready[1], &c, 1) != 1) ::_exit(2);
            if (::read(release[0], &c, 1) < 0) ::_exit(2);
            ::_exit(0);
        }
        char c = 0;
        if (::read(ready[0], &c, 1) != 1 || c != 'y') pid = -1;
        ::close(ready[0]);
        ::close(ready[1]);
    }
    void letGo() {
        if (pid <= 0) return;
        char c = 'x';
        if (::write(release[1], &c, 1) != 1) return;
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
    }
    ~LockHolder() {
        letGo();
        ::close(release[0]);
        ::close(release[1]);
    }
};

}  // namespace

TEST_F(SafeFile, LinksPlantedAtTheOldTemporaryNamesAreNotFollowed) {
    const std::string victim = file("victim.txt", "precious");
    // The names the copy and the design save used to write through.
    const std::string source = file("scan.tif", "raster bytes");
    fs::create_symlink(victim, dir / "scan-backup.tif.pxcopy-tmp");
    fs::create_symlink(victim, dir / "site.json.saving");
    ASSERT_EQ(mdlFile_copy(w_utf8Widen((dir / "scan-backup.tif").string()).c_str(), w_utf8Widen(source).c_str()),
              SUCCESS);
    std::string error;
    ASSERT_TRUE(subhost::openDesign(file("site.json", "{\"name\": \"site.dgn\"}"), &error)) << error;
    ASSERT_TRUE(subhost::saveDesign(&error)) << error;
    EXPECT_EQ(read(victim), "precious");
    EXPECT_EQ(read(dir / "scan-backup.tif"), "raster bytes");
    EXPECT_NE(read(dir / "site.json").find("site.dgn"), std::string::npos);
    // No temporary is left behind.
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_FALSE(sf::isWorkingFileName(e.path().filename())) << e.path();
}

TEST_F(SafeFile, TwoWritersOfOneFileUseTwoTemporariesAndTheLastRenameWins) {
    const std::string target = file("a.tif", "old");
    std::string error;
    auto first = sf::TempFile::create(target, &error);
    auto second = sf::TempFile::create(target, &error);
    ASSERT_TRUE(first && second) << error;
    EXPECT_NE(first->path(), second->path());
    std::ofstream(first->path()) << "first";
    std::ofstream(second->path()) << "second, longer";
    ASSERT_TRUE(second->commit(&error)) << error;
    ASSERT_TRUE(first->commit(&error)) << error;
    EXPECT_EQ(read(target), "first");
    // An uncommitted temporary goes with its owner.
    std::string path;
    {
        auto dropped = sf::TempFile::create(target, &error);
        ASSERT_TRUE(dropped);
        path = dropped->path();
        EXPECT_TRUE(fs::exists(path));
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(SafeFile, ALockHeldByAnotherProcessMakesAWriterWaitThenGiveUpWithTheReason) {
    const std::string target = file("a.tif", "old");
    LockHolder holder(target);
    ASSERT_GT(holder.pid, 0);
    std::string error;
    EXPECT_FALSE(sf::FileLock::acquire(target, 0.2, &error));
    EXPECT_NE(error.find("another program is writing " + target), std::string::npos) << error;
    holder.letGo();
    EXPECT_TRUE(sf::FileLock::acquire(target, 0.2, &error)) << error;
    EXPECT_TRUE(sf::FileLock::acquire((dir / "missing.tif").string(), 0, &error));  // nothing to lock
}

TEST_F(SafeFile, StaleWorkingFilesOfDeadProcessesGoOthersStay) {
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const std::string deadTemp = file(".a.tif.pxmtmp-" + std::to_string(dead) + "-7", "half");
    const std::string deadLink = file(".a.tif.undo-" + std::to_string(dead) + "-1", "kept");
    const std::string liveTemp = file(".a.tif.pxmtmp-" + std::to_string(::getpid()) + "-3", "busy");
    const std::string user1 = file("a.tif.pxmtmp-1-1", "a user's file");
    const std::string user2 = file(".hidden-12-3", "a user's file");
    EXPECT_EQ(sf::removeStaleWorkingFiles(dir.string()), 2);
    EXPECT_FALSE(fs::exists(deadTemp));
    EXPECT_FALSE(fs::exists(deadLink));
    EXPECT_TRUE(fs::exists(liveTemp));
    EXPECT_TRUE(fs::exists(user1));
    EXPECT_TRUE(fs::exists(user2));
}
