// Narrow-text wrappers around host calls that take the host's wide strings.
// The add-on keeps its texts narrow (UTF-8) in fixed buffers; these convert at
// the host call and back.
#pragma once

#include <cstddef>
#include <string>

#include "host/mdldialog.h"
#include "host/mdlsystem.h"

// Wide copy of a UTF-8 text (null gives an empty text; bytes that are not UTF-8 are kept, see host/utf8text.h).
std::wstring w_widen(const char* text);
// UTF-8 copy of a wide text (null gives an empty text; characters without a UTF-8 form become U+FFFD).
std::string s_narrow(WCharCP text);
// Copies the UTF-8 form of text into buffer of capacity bytes, always terminated; a text that does not
// fit is cut after the last whole character that does.
void v_narrowCopy(char* buffer, std::size_t capacity, WCharCP text);

// Value of a configuration variable into buffer (capacity bytes); 0 when defined.
int j_cfgVarGet(char* buffer, std::size_t capacity, const char* name);
// Finds file (along the search path of cfg variable envVar when given) into found (256 bytes); 0 when found.
int j_fileFind(char* found, const char* file, const char* envVar, const char* defaultExt);
// Splits path into device, directory, name and extension (256-byte buffers; any may be null).
void v_fileParseName(const char* path, char* device, char* directory, char* name, char* extension);
// Joins the parts (any may be null or empty) into path (256 bytes).
void v_fileBuildName(char* path, const char* device, const char* directory, const char* name, const char* extension);
// File dialogs: 0 when a file was chosen into path (256 bytes).
int j_fileOpenDialog(char* path, const char* filter, const char* defaultDir, const char* title);
int j_fileCreateDialog(char* path, const char* filter, const char* defaultDir, const char* title);

// Compares two texts (file names, extensions, keys) ignoring ASCII letter case, byte by byte as
// unsigned characters: negative, 0 or positive as a sorts before, equal to or after b.
int n_nameCompare(const char* a, const char* b);
// The same over at most count characters.
int n_nameCompareN(const char* a, const char* b, std::size_t count);

// Output of a narrow text with a message type (MSG_*).
void v_outputPrintf(int msgType, const char* text);
// A message-centre entry.
void v_outputMessageCenter(int priority, const char* brief, const char* detail, bool openAlert);
