// Opening a file with the program the user's desktop associates with it, as the freedesktop
// standards define it: the file's type from its content or its extension, the default or added
// application for that type in the mimeapps.list files of the XDG config and data folders (or a
// .desktop file that lists the type), its Exec line with the file put in, started as a child
// process that the host does not wait for.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace subhost::shell {

// Takes a file path; gives its MIME type from its first bytes when they are a known signature
// (TIFF, PNG, JPEG, GIF, BMP, PDF), else from its extension (case ignored); "" when neither tells.
std::string fileMimeType(const std::string& path);

// Takes a file path; gives the command line (program first) of the application the user's
// associations name for the file's type, the file put in by the Exec line's field codes (appended
// when the line has none); empty when the type is unknown or no installed application is named.
std::vector<std::string> associatedCommand(const std::string& path);

// Takes a command line as typed (words split at blanks, double quotes group, backslash escapes
// inside quotes); gives its words; empty for a blank line or an unclosed quote.
std::vector<std::string> splitCommandLine(const std::string& line);

// Takes a command line (program first, found on PATH when it has no slash); starts it as a child
// process with its standard input from /dev/null and its standard output on the host's standard
// error (the transcript stays clean), not waited for; gives 0, or the errno of the failure
// (ENOENT: no such program, EACCES: it may not run, EINVAL: an empty command).
int startDetached(const std::vector<std::string>& argv);

// Waits until every process startDetached started has exited (collecting them), at most seconds;
// true when none is left running.
bool waitForStarted(double seconds);

// A queued message box answer (session line `answer wait`) that first waits until every program
// started by startDetached has exited (at most kWaitSeconds), then presses the box's only button.
constexpr int kAnswerWait = -1000001;
constexpr double kWaitSeconds = 60.0;

// Queues the answer of the next Open With dialog: a command line (the file is appended as its last
// argument) or nullopt for cancel.
void queueOpenWithAnswer(std::optional<std::string> command);
// Drops the queued Open With answers; gives how many there were.
std::size_t clearOpenWithAnswers();

}  // namespace subhost::shell
