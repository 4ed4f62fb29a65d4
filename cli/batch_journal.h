// The journal of batch runs: an append-only file of JSON lines, one record per write, each
// flushed to disk before the run goes on, from which a run that was stopped is resumed.
//
//   {"journal":"pixelmend batch","run":{...}}              a run's header: command and options
//   {"begin":PATH,"size":N,"mtime":NS,"inode":N,"names":[...]}   before a file is worked on
//   {"end":PATH,"result":R,"size":N,"mtime":NS,"inode":N,"backup":B,"output":O,"made":[...],"reason":T}
//
// PATH is absolute; mtime in nanoseconds; names are the derived files beside it before the run,
// made the ones the run added (B and O the first backup and the first other output among them).
// A header whose run differs from the last one starts a new section; the records of every
// section with the same run count. A torn last line (no newline: power lost mid-write) is cut off.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/batch_inputs.h"

namespace pixelmend {

// What the journal says of one file for this run.
struct JournalFile {
    bool begun = false;              // a begin record with no end after it
    bool ended = false;              // the last record is an end
    std::string result;              // the end's result ("done", "unchanged", "failed")
    std::int64_t size = -1;          // the begin's or end's size
    std::int64_t mtime = -1;         // the begin's or end's modification time (ns)
    std::int64_t inode = -1;         // the begin's or end's inode
    std::vector<std::string> names;  // derived names present at the begin
};

// The files a run made beside a file: the first backup, the first other output, all of them.
struct Made {
    std::string backup;
    std::string output;
    std::set<std::string> all;
};

// An open journal, locked against other runs for as long as it (or a worker forked while it was
// open) lives.
class Journal {
public:
    // Takes the journal path and the run's identity; reads it, cuts a torn last line, appends the
    // header when the last section is another run's; nullopt with *error (the file and why).
    static std::optional<Journal> open(const std::string& path, const nlohmann::json& run, std::string* error);
    // Takes the journal path and the run's identity; reads it without writing (for --dry-run);
    // a missing journal is empty.
    static Journal readOnly(const std::string& path, const nlohmann::json& run);
    Journal(Journal&& other) noexcept;
    Journal& operator=(Journal&&) = delete;
    Journal(const Journal&) = delete;
    ~Journal();

    // The file's state in this run's sections, or null when the journal has no record of it.
    const JournalFile* find(const std::string& path) const;
    // Every file the journal's runs made (backups, outputs), absolute.
    const std::set<std::string>& made() const { return made_; }
    // Records that work on path begins; false with *error when the record cannot be written.
    bool begin(const std::string& path, const FileStamp& stamp, const std::set<std::string>& names, std::string* error);
    // Records a file's end with its state after; false with *error when the record cannot be written.
    bool end(const std::string& path, const std::string& result, const FileStamp& stamp, const Made& made,
             const std::string& reason, std::string* error);

private:
    Journal() = default;
    void take(const std::string& text, const nlohmann::json& run, bool* lastIsOurs);
    void apply(const nlohmann::json& record);
    bool append(const nlohmann::json& record, std::string* error);

    std::string path_;
    int fd_ = -1;
    std::map<std::string, JournalFile> files_;
    std::set<std::string> made_;
};

}  // namespace pixelmend
