// Undo history of the host.
#include "subhost/undo.h"

#include <memory>
#include <vector>

namespace subhost::undo {
namespace {

struct Action {
    std::function<void()> undoAction;
    std::function<void()> redoAction;
    std::string what;
};

using Group = std::vector<Action>;

// Module state: done groups (undoable), undone groups (redoable), the group being filled.
struct UndoState {
    std::vector<Group> done;
    std::vector<Group> undone;
    Group open;
    int depth = 0;
};

UndoState& state() {
    static UndoState s;
    return s;
}

// The history keeps the most recent groups only, so that a long session of large
// edits cannot take all memory.
constexpr std::size_t kMaxGroups = 100;

void closeOpenGroup() {
    UndoState& s = state();
    if (!s.open.empty()) s.done.push_back(std::move(s.open));
    s.open.clear();
    if (s.done.size() > kMaxGroups) s.done.erase(s.done.begin(), s.done.begin() + long(s.done.size() - kMaxGroups));
}

}  // namespace

void startGroup() {
    UndoState& s = state();
    if (s.depth++ == 0) closeOpenGroup();
}

void endGroup() {
    UndoState& s = state();
    if (s.depth == 0) return;
    if (--s.depth == 0) closeOpenGroup();
}

void record(std::function<void()> undoAction, std::function<void()> redoAction, std::string what) {
    UndoState& s = state();
    s.undone.clear();
    s.open.push_back(Action{std::move(undoAction), std::move(redoAction), std::move(what)});
    if (s.depth == 0) closeOpenGroup();
}

int undoGroups(int count) {
    UndoState& s = state();
    closeOpenGroup();
    int n = 0;
    for (; n < count && !s.done.empty(); ++n) {
        Group group = std::move(s.done.back());
        s.done.pop_back();
        for (auto it = group.rbegin(); it != group.rend(); ++it) it->undoAction();
        s.undone.push_back(std::move(group));
    }
    return n;
}

int redoGroups(int count) {
    UndoState& s = state();
    int n = 0;
    for (; n < count && !s.undone.empty(); ++n) {
        Group group = std::move(s.undone.back());
        s.undone.pop_back();
        for (Action& action : group) action.redoAction();
        s.done.push_back(std::move(group));
    }
    return n;
}

void clear() {
    UndoState& s = state();
    s.done.clear();
    s.undone.clear();
    s.open.clear();
    s.depth = 0;
}

}  // namespace subhost::undo
