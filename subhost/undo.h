// The host's undo history: actions recorded inside groups; one undo step takes
// back one group.
#pragma once

#include <functional>
#include <string>

namespace subhost::undo {

// Opens a group (groups nest: the outermost one counts); actions recorded outside any group are a group each.
void startGroup();
// Closes the innermost open group.
void endGroup();
// Records an action of the open group: undo takes it back, redo does it again.
void record(std::function<void()> undoAction, std::function<void()> redoAction, std::string what);
// Takes back the last count groups; the number taken back.
int undoGroups(int count);
// Does the last count undone groups again; the number redone.
int redoGroups(int count);
// Forgets the whole history (design closed, host reset).
void clear();

}  // namespace subhost::undo
