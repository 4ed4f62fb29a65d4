// The host's file and system services that the add-on and the support library
// use instead of calling the platform themselves: reading and safely replacing
// small files, the local time and a memory hint. Paths are UTF-8. Failures give
// the system's error code (an errno value), 0 meaning success.
#pragma once

#include <cstddef>
#include <ctime>

extern "C" {

// Receives the next size bytes of a file being read (context as handed to j_hostFileRead).
using HostFileChunkFunc = void (*)(void* context, const char* data, std::size_t size);

// Reads the regular file at path from start to end, handing its bytes to take in chunks of at most
// 64 KiB; 0, or the error code (EINVAL when path names something other than a regular file, which
// is refused without waiting on it, as for a pipe or device). Bytes already handed stay handed.
int j_hostFileRead(const char* path, HostFileChunkFunc take, void* context);

// Gives the file at path exactly size bytes of data. A symbolic link is written through (the file
// it names is replaced). The bytes go to a new temporary file beside the target, are flushed to disk
// and renamed over it, so that a failed write leaves the old file as it was; the replaced file's
// permission bits are kept, a new file gets the usual ones. A write-protected file is left alone
// (EACCES). Where the folder allows no new file, an existing writable file is rewritten in place and
// its old content put back when that fails. 0, or the error code (ENOSPC or EDQUOT for a full disk).
int j_hostFileReplace(const char* path, const void* data, std::size_t size);

// Fills *local with the local calendar time of when; false (and *local untouched) when it has none.
bool b_hostLocalTime(std::time_t when, std::tm* local);

// Hints that the size bytes at address (a 2 MiB aligned block) be backed by huge pages; a hint only,
// nothing fails.
void v_hostHugePageHint(void* address, std::size_t size);
}
