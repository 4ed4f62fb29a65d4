// Batch runs over folders in worker processes: per-file results with one and several workers,
// runs killed or stopped and started again, the journal, the report, --dry-run and shards.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "raster_files_fixture.h"

namespace {

namespace fs = std::filesystem;

// A copy at (0,0) of 16x16 pixels to (8,8): a second run on the same file gives other pixels.
const std::string kCopy = "copy --block 0,0,16,16 --to 8,8 ";

class BatchScaleTest : public RasterFilesTest {
protected:
    // Every file below folder (hidden ones too) with its bytes.
    std::map<std::string, std::string> contents(const std::string& folder) const {
        std::map<std::string, std::string> all;
        for (const auto& e : fs::recursive_directory_iterator(dir / folder))
            if (e.is_regular_file())
                all[fs::relative(e.path(), dir / folder).string()] = bytes(fs::relative(e.path(), dir));
        return all;
    }
    // Makes folder with count grey scans s00.tif, s01.tif, ... (widths width, width + 1, ...)
    void scans(const std::string& folder, int count, int width = 40, int height = 32) {
        fs::create_directories(dir / folder);
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "%s/s%02d.tif", folder.c_str(), i);
            greyFile(name, width + i, height);
        }
    }
    // Starts pixelmend ARGS in the test folder as a process of its own group, output to log.
    pid_t start(const std::vector<std::string>& args, const std::string& log = "/dev/null") const {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            if (::chdir(dir.c_str()) != 0) ::_exit(127);
            ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(out, 2);
            std::vector<char*> argv;
            static std::string bin = PXMEND_BIN_DIR "/pixelmend";
            argv.push_back(bin.data());
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(bin.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }
    static int exitCode(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    static std::vector<std::string> split(const std::string& text) {
        std::vector<std::string> words;
        std::istringstream in(text);
        for (std::string w; in >> w;) words.push_back(w);
        return words;
    }
    // The lines of the output, sorted (workers end in any order).
    static std::vector<std::string> sortedLines(const std::string& out) {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    // The journal's records.
    std::vector<nlohmann::json> journal(const std::string& name) const {
        std::vector<nlohmann::json> records;
        std::istringstream in(bytes(name));
        for (std::string l; std::getline(in, l);) records.push_back(nlohmann::json::parse(l));
        return records;
    }
};

// A folder of good, unsupported, damaged, read-only and backup-named files gives the same results
// with one worker and with four, and running again changes nothing.
TEST_F(BatchScaleTest, MixedFolderGivesTheSameResultsWithOneAndFourWorkersAndASecondRunChangesNothing) {
    std::map<int, std::vector<std::string>> linesByJobs;
    for (int jobs : {1, 4}) {
        const std::string f = "mixed" + std::to_string(jobs);
        scans(f, 3);
        greyFile(f + "/old-backup.tif", 20, 20);
        std::ofstream(dir / f / "notes.txt") << "not a picture";
        std::ofstream(dir / f / "broken.tif") << std::string("II*\0garbage, no TIFF directory", 30);
        ::chmod((dir / f / "s01.tif").c_str(), 0444);
        const std::string locked = bytes(f + "/s01.tif");

        const Run r = pixelmend(kCopy + f + " --jobs " + std::to_string(jobs));
        EXPECT_EQ(r.code, 1) << r.out;
        EXPECT_TRUE(r.says("copy: 2 of 4 file(s) changed, 2 skipped; failed: " + f + "/broken.tif " + f + "/s01.tif"))
            << r.out;
        EXPECT_TRUE(r.says("copy " + f + "/notes.txt: skipped (not a raster file of a supported kind)")) << r.out;
        EXPECT_TRUE(r.says("copy " + f + "/old-backup.tif: skipped (named like a backup or an output of a run)"));
        EXPECT_TRUE(r.says("copy " + f + "/s01.tif: FAILED: Raster attachment is read-only.")) << r.out;
        EXPECT_EQ(bytes(f + "/s01.tif"), locked);
        EXPECT_TRUE(exists(f + "/s00-backup.tif") && exists(f + "/s02-backup.tif"));
        EXPECT_TRUE(exists(f + "/.pixelmend-journal"));
        std::string out = r.out;
        for (std::size_t at; (at = out.find(f)) != std::string::npos;) out.replace(at, f.size(), "F");
        linesByJobs[jobs] = sortedLines(out);

        // Again: the backups and the journal are not taken, the done files are not edited twice.
        const auto before = contents(f);
        const Run again = pixelmend(kCopy + f + " --jobs " + std::to_string(jobs));
        EXPECT_EQ(again.code, 1) << again.out;
        EXPECT_TRUE(again.says("copy " + f + "/s00.tif: skipped (already done)")) << again.out;
        EXPECT_TRUE(again.says("copy: 0 of 2 file(s) changed, 6 skipped")) << again.out;
        auto after = contents(f);
        EXPECT_GT(after[".pixelmend-journal"].size(), before.at(".pixelmend-journal").size());
        after[".pixelmend-journal"] = before.at(".pixelmend-journal");
        EXPECT_EQ(after, before);
    }
    EXPECT_EQ(linesByJobs[1], linesByJobs[4]);
}

// Runs killed with SIGKILL at random moments, then started again until one ends, leave every file
// edited once with one backup: byte for byte what one uninterrupted run gives.
TEST_F(BatchScaleTest, RunsKilledAtRandomMomentsResumeToTheBytesOfAnUninterruptedRun) {
    scans("whole", 10);
    ASSERT_EQ(pixelmend(kCopy + "whole --jobs 2").code, 0);
    auto reference = contents("whole");
    reference.erase(".pixelmend-journal");

    std::mt19937 random(19);
    for (int trial = 0; trial < 4; ++trial) {
        const std::string f = "killed" + std::to_string(trial);
        scans(f, 10);
        const std::vector<std::string> args = {"copy", "--block", "0,0,16,16", "--to", "8,8", f, "--jobs", "2"};
        for (int kill = 0; kill < 2; ++kill) {
            const pid_t pid = start(args);
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
            ::kill(pid, SIGKILL);
            exitCode(pid);
        }
        const pid_t last = start(args);
        ASSERT_EQ(exitCode(last), 0) << "trial " << trial;
        auto result = contents(f);
        result.erase(".pixelmend-journal");
        EXPECT_EQ(result, reference) << "trial " << trial;  // no second backup, no temporary left
    }
}

// Ctrl-C to the whole process group: the file being worked on is finished, the journal says what
// was done, the exit code is 130; started again, the rest is done.
TEST_F(BatchScaleTest, CtrlCFinishesTheRunningFileRecordsItAndExits130) {
    scans("many", 12, 1600, 1200);  // large enough that a file takes a while
    const pid_t pid =
        start({"copy", "--block", "0,0,16,16", "--to", "8,8", "many", "--jobs", "2"}, (dir / "log").string());
    // Wait until a file has ended and two are being worked on, then interrupt them.
    auto count = [&](const std::string& what) {
        const std::string text = bytes("many/.pixelmend-journal");
        int n = 0;
        for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++n;
        return n;
    };
    // (the same records 20 ms apart: both workers have started their files and not ended them).
    for (int i = 0; i < 2000; ++i) {
        const int begins = count("\"begin\""), ends = count("\"end\"");
        if (ends >= 1 && begins - ends == 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (count("\"begin\"") == begins && count("\"end\"") == ends) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(-pid, SIGINT);
    EXPECT_EQ(exitCode(pid), 130) << bytes("log");
    EXPECT_NE(bytes("log").find("; stopped, "), std::string::npos) << bytes("log");

    std::map<std::string, int> begun, ended;
    for (const auto& r : journal("many/.pixelmend-journal")) {
        if (r.contains("begin")) ++begun[fs::path(r["begin"].get<std::string>()).filename()];
        if (r.contains("end")) {
            const std::string name = fs::path(r["end"].get<std::string>()).filename();
            ++ended[name];
            EXPECT_EQ(r["result"], "done");
            EXPECT_EQ(r["backup"], fs::path(name).stem().string() + "-backup.tif");
        }
    }
    EXPECT_EQ(begun, ended);
    EXPECT_LT(ended.size(), 12u);
    const std::string summary = "copy: " + std::to_string(ended.size()) + " of 12 file(s) changed; stopped, " +
                                std::to_string(12 - ended.size()) + " file(s) not started";
    EXPECT_NE(bytes("log").find(summary), std::string::npos) << bytes("log");
    for (int i = 0; i < 12; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "s%02d.tif", i);
        EXPECT_TRUE(exists(std::string("many/") + name));
        EXPECT_EQ(exists("many/" + fs::path(name).stem().string() + "-backup.tif"), ended.count(name) == 1) << name;
    }
    const Run rest = pixelmend(kCopy + "many --quiet");
    EXPECT_EQ(rest.code, 0) << rest.out;
    // Skipped: the files done before and their backups.
    EXPECT_TRUE(rest.says("copy: " + std::to_string(12 - ended.size()) + " of " + std::to_string(12 - ended.size()) +
                          " file(s) changed, " + std::to_string(2 * ended.size()) + " skipped"))
        << rest.out;
    EXPECT_FALSE(exists("many/s00-backup2.tif"));
}

// The report tells per file what the lines told; --dry-run lists the work and writes nothing.
TEST_F(BatchScaleTest, DryRunChangesNothingAndTheReportMatchesWhatHappened) {
    scans("r", 3);
    std::ofstream(dir / "r" / "readme.txt") << "text";
    const auto before = contents("r");
    const Run dry = pixelmend(kCopy + "r --dry-run");
    EXPECT_EQ(dry.code, 0) << dry.out;
    EXPECT_TRUE(dry.says("copy r/s02.tif: would run copy --block 0,0,16,16 --to 8,8")) << dry.out;
    EXPECT_EQ(contents("r"), before);

    ::chmod((dir / "r" / "s01.tif").c_str(), 0444);
    const Run r = pixelmend(kCopy + "r --report report.json");
    EXPECT_EQ(r.code, 1) << r.out;
    const auto report = nlohmann::json::parse(bytes("report.json"));
    std::map<std::string, std::string> results;
    for (const auto& f : report["files"]) results[f["path"]] = f["result"];
    EXPECT_EQ(results,
              (std::map<std::string, std::string>{
                  {"r/readme.txt", "skipped"}, {"r/s00.tif", "done"}, {"r/s01.tif", "failed"}, {"r/s02.tif", "done"}}));
    EXPECT_EQ(report["files"][1]["backup"], "s00-backup.tif");
    EXPECT_EQ(report["files"][2]["reason"], "Raster attachment is read-only.");
    EXPECT_EQ(report["files"][0]["reason"], "not a raster file of a supported kind");
    EXPECT_EQ(report["summary"]["done"], 2);
    EXPECT_EQ(report["summary"]["failed"], 1);
    EXPECT_EQ(report["summary"]["skipped"], 1);
}

// Shards run side by side, each with its journal, do every file exactly once.
TEST_F(BatchScaleTest, ShardsSideBySideDoEveryFileExactlyOnce) {
    scans("sh", 12);
    std::vector<pid_t> shards;
    for (int k = 1; k <= 3; ++k)
        shards.push_back(start({"copy", "--block", "0,0,16,16", "--to", "8,8", "sh", "--jobs", "1", "--shard",
                                std::to_string(k) + "/3", "--report", "shard" + std::to_string(k) + ".json"}));
    for (pid_t pid : shards) EXPECT_EQ(exitCode(pid), 0);
    std::map<std::string, int> done;
    for (int k = 1; k <= 3; ++k) {
        EXPECT_TRUE(exists("sh/.pixelmend-journal." + std::to_string(k) + "-of-3"));
        const std::string report = bytes("shard" + std::to_string(k) + ".json");
        const auto parsed = nlohmann::json::parse(report);
        for (const auto& f : parsed["files"])
            if (f["result"] == "done") ++done[f["path"]];
    }
    EXPECT_EQ(done.size(), 12u);
    for (const auto& [path, count] : done) EXPECT_EQ(count, 1) << path;
    EXPECT_FALSE(exists("sh/s00-backup2.tif"));
}

// A stopped run's traces: a file whose write landed is recorded without a second edit; a file left
// as it was loses the half-made backup and temporary and is done again; a torn last line is ignored.
TEST_F(BatchScaleTest, AFileAStoppedRunLeftIsFinishedOnceAndItsHalfMadeFilesGo) {
    scans("t", 2);
    const std::string original = bytes("t/s01.tif");
    ASSERT_EQ(pixelmend(kCopy + "t/s00.tif").code, 0);
    // As if killed after s00's write landed, before its end record; then as if killed while s01's
    // backup was being written; and the power lost in the middle of a line.
    std::string j = bytes("t/.pixelmend-journal");
    j.resize(j.rfind('\n', j.size() - 2) + 1);
    const nlohmann::json s01 = {{"begin", (dir / "t/s01.tif").string()},
                                {"size", fs::file_size(dir / "t/s01.tif")},
                                {"mtime", 0},
                                {"inode", 0},
                                {"names", nlohmann::json::array()}};
    struct stat st {};
    ::stat((dir / "t/s01.tif").c_str(), &st);
    nlohmann::json begin = s01;
    begin["mtime"] = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    begin["inode"] = st.st_ino;
    std::ofstream(dir / "t/.pixelmend-journal", std::ios::trunc) << j << begin.dump() << "\n{\"end\":\"/t/s0";
    std::ofstream(dir / "t/s01-backup.tif") << "half";
    std::ofstream(dir / "t/.s01-backup.tif.pxmtmp-999999-4") << "half";

    const Run r = pixelmend(kCopy + "t/s00.tif t/s01.tif");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(r.says("copy t/s00.tif: skipped (already done (by a stopped run))")) << r.out;
    EXPECT_TRUE(r.says("copy t/s01.tif: done")) << r.out;
    EXPECT_EQ(bytes("t/s01-backup.tif"), original);
    EXPECT_FALSE(exists("t/s00-backup2.tif"));
    EXPECT_FALSE(exists("t/s01-backup2.tif"));
    EXPECT_FALSE(exists("t/.s01-backup.tif.pxmtmp-999999-4"));
    EXPECT_NO_THROW(journal("t/.pixelmend-journal"));  // the torn line is gone, not joined to the next
}

// Limits and usage: a file larger than the memory limit fails with the reason; wrong runner
// options are usage errors; a list on standard input is read.
TEST_F(BatchScaleTest, MemoryLimitUsageErrorsAndAListOnStandardInput) {
    scans("m", 2);
    const Run big = pixelmend(kCopy + "m/s00.tif --max-memory 1M");
    EXPECT_EQ(big.code, 1) << big.out;
    EXPECT_TRUE(big.says("copy m/s00.tif: FAILED: needs about ")) << big.out;
    EXPECT_TRUE(big.says(" MiB, more than --max-memory 1 MiB")) << big.out;
    EXPECT_FALSE(exists("m/s00-backup.tif"));

    // A file in a folder that does not exist fails alone (its journal is kept in the current folder).
    const Run missing = pixelmend(kCopy + "nowhere/x.tif");
    EXPECT_EQ(missing.code, 1) << missing.out;
    EXPECT_TRUE(missing.says("copy nowhere/x.tif: FAILED: file not found")) << missing.out;

    for (const std::string bad : {"--jobs 0", "--shard 4/3", "--shard 1", "--max-memory 5Q", "--files-from"}) {
        const Run r = pixelmend(kCopy + "m " + bad);
        EXPECT_EQ(r.code, 2) << bad << "\n" << r.out;
    }
    const CommandOutput list =
        runCommandLine("cd '" + dir.string() + "' && printf 'm/s01.tif\\n\\nm/s00.tif\\n' | XDG_CONFIG_HOME='" +
                       (dir / "config").string() + "' " PXMEND_BIN_DIR "/pixelmend " + kCopy + "--files-from - 2>&1");
    EXPECT_EQ(list.code, 0) << list.out;
    EXPECT_NE(list.out.find("copy: 2 of 2 file(s) changed"), std::string::npos) << list.out;
    // The journal of a list on standard input is in the current folder, not beside the first file.
    EXPECT_NE(bytes(".pixelmend-journal").find("\"end\":\"" + (dir / "m/s01.tif").string()), std::string::npos);
    EXPECT_EQ(bytes("m/.pixelmend-journal").find("m/s01.tif"), std::string::npos);
}

}  // namespace

namespace {

// What is taken: subfolders only with --recursive, hidden folders never, a file named twice once;
// another command's run is not "already done" with the first one's journal records.
TEST_F(BatchScaleTest, RecursiveFoldersDuplicatesAndAnotherCommandOnTheSameFiles) {
    scans("top", 1);
    scans("top/sub", 1);
    scans("top/.hidden", 1);
    const Run flat = pixelmend(kCopy + "top top/s00.tif ./top/s00.tif --jobs 2");
    EXPECT_EQ(flat.code, 0) << flat.out;
    EXPECT_TRUE(flat.says("copy: 1 of 1 file(s) changed")) << flat.out;
    EXPECT_FALSE(exists("top/sub/s00-backup.tif"));

    const Run deep = pixelmend(kCopy + "top --recursive --jobs 2");
    EXPECT_EQ(deep.code, 0) << deep.out;
    EXPECT_TRUE(deep.says("copy top/s00.tif: skipped (already done)")) << deep.out;
    EXPECT_TRUE(deep.says("copy top/sub/s00.tif: done")) << deep.out;
    EXPECT_FALSE(exists("top/.hidden/s00-backup.tif"));

    // A delete on the same files is its own run: it edits them, and a second delete does not.
    const Run del = pixelmend("delete top/s00.tif --block 0,0,4,4 --set Backup=0");
    EXPECT_TRUE(del.says("delete top/s00.tif: done")) << del.out;
    const Run delAgain = pixelmend("delete top/s00.tif --block 0,0,4,4 --set Backup=0");
    EXPECT_TRUE(delAgain.says("delete top/s00.tif: skipped (already done)")) << delAgain.out;
    int headers = 0;
    for (const auto& r : journal("top/.pixelmend-journal")) headers += r.contains("journal");
    EXPECT_EQ(headers, 2);  // copy, then delete; the same command again goes on in its section
}

// A memory limit that lets one file run at a time still runs them all with two workers; an add-on
// that cannot be loaded ends the run with exit code 2 and no file changed.
TEST_F(BatchScaleTest, ATightMemoryLimitRunsFilesOneByOneAndAMissingAddOnEndsTheRun) {
    scans("one", 4);
    const Run tight = pixelmend(kCopy + "one --jobs 2 --max-memory 20M --report tight.json");
    EXPECT_EQ(tight.code, 0) << tight.out;
    EXPECT_TRUE(tight.says("copy: 4 of 4 file(s) changed")) << tight.out;
    // One at a time: no file began before the one before it ended.
    std::string last;
    for (const auto& r : journal("one/.pixelmend-journal")) {
        if (r.contains("begin")) EXPECT_NE(last, "begin") << r;
        if (r.contains("begin") || r.contains("end")) last = r.contains("begin") ? "begin" : "end";
    }

    scans("noapp", 3);
    const auto before = contents("noapp");
    const Run noApp = pixelmend(kCopy + "noapp --jobs 2 --app " + (dir / "missing.so").string());
    EXPECT_EQ(noApp.code, 2) << noApp.out;
    EXPECT_TRUE(noApp.says("cannot load the add-on")) << noApp.out;
    auto after = contents("noapp");
    after.erase(".pixelmend-journal");
    EXPECT_EQ(after, before);
}

}  // namespace
