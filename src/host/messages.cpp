// Message boxes, dialog item helpers and the completion bar.
#include "host/messages.h"

#include <cmath>

#include "host/hostwrap.h"

namespace {

// Module state: the one completion bar the add-on may have open.
struct ProgressState {
    CompletionBar* completionBar = nullptr;
};

ProgressState g_progress;

}  // namespace

int j_messageBox(int dialogId, const char* text, int icon) {
    return mdlDialog_openMessageBox(dialogId, w_widen(text).c_str(), icon);
}

int n_itemIndex(MSDialog* dialog, std::uint32_t type, int id) {
    if (!dialog) return -1;
    DialogItem* item = mdlDialog_itemGetByTypeAndId(dialog, type, id, 0);
    return item ? item->itemIndex : -1;
}

void v_itemEnable(MSDialog* dialog, std::uint32_t type, int id, bool enabled) {
    const int index = n_itemIndex(dialog, type, id);
    if (index >= 0) mdlDialog_itemSetEnabledState(dialog, index, enabled, true);
}

void v_itemShow(MSDialog* dialog, std::uint32_t type, int id, bool shown) {
    const int index = n_itemIndex(dialog, type, id);
    if (index < 0) return;
    if (shown)
        mdlDialog_itemShow(dialog, index);
    else
        mdlDialog_itemHide(dialog, index, true);
}

void v_progressOpen(const char* title) {
    if (g_progress.completionBar) mdlDialog_completionBarClose(g_progress.completionBar);
    g_progress.completionBar = mdlDialog_completionBarOpen(w_widen(title).c_str());
}

void v_progressUpdate(const char* text, double percent) {
    if (!g_progress.completionBar) return;
    const double bounded = std::isfinite(percent) ? std::fmax(-1e9, std::fmin(1e9, percent)) : 0.0;
    mdlDialog_completionBarUpdate(g_progress.completionBar, w_widen(text).c_str(), static_cast<int>(bounded));
}

void v_progressClose() {
    if (!g_progress.completionBar) return;
    mdlDialog_completionBarClose(g_progress.completionBar);
    g_progress.completionBar = nullptr;
}

void v_progressReset() { g_progress = ProgressState{}; }
