// Questions the substitute host asks on behalf of applications: message
// boxes, file dialogs and the colour chooser, answered from the queues (or the
// default answer); the completion bar.
#include <sys/stat.h>

#include <algorithm>

#include "host/winapi.h"
#include "subhost/shell.h"
#include "subhost/state.h"

namespace subhost {
namespace {

// The buttons of a message box and whether it is a notice (one button, answered by itself).
struct BoxButtons {
    std::vector<int> allowed;         // actions of the enabled buttons
    std::optional<int> noticeAnswer;  // set for a one-button box
    MSDialog* instance = nullptr;     // a created application dialog used as the box
};

nlohmann::json answerJson(int action) {
    switch (action) {
    case ACTIONBUTTON_OK:
        return "ok";
    case ACTIONBUTTON_CANCEL:
        return "cancel";
    case ACTIONBUTTON_YES:
        return "yes";
    case ACTIONBUTTON_NO:
        return "no";
    default:
        return action;
    }
}

BoxButtons boxButtons(int dialogId) {
    BoxButtons box;
    switch (dialogId) {
    case MSGBOX_NOTICE:
        box.noticeAnswer = ACTIONBUTTON_OK;
        return box;
    case MSGBOX_YESNO:
        box.allowed = {ACTIONBUTTON_YES, ACTIONBUTTON_NO};
        return box;
    case MSGBOX_YESNOCANCEL:
        box.allowed = {ACTIONBUTTON_YES, ACTIONBUTTON_NO, ACTIONBUTTON_CANCEL};
        return box;
    case MSGBOX_CONFIRM:
        box.allowed = {ACTIONBUTTON_OK, ACTIONBUTTON_CANCEL};
        return box;
    default:
        break;
    }
    const rsc::Dialog* dialog = findRscDialog(dialogId);
    if (!dialog) {
        box.noticeAnswer = ACTIONBUTTON_OK;
        return box;
    }
    // An instance the application created beforehand carries the buttons' enabled state.
    box.instance = existingDialog(dialogId, false);
    std::vector<int> all;
    for (std::size_t i = 0; i < dialog->items.size(); ++i) {
        const auto& item = dialog->items[i];
        if (item.type != RTYPE_PushButton || item.action == 0) continue;
        all.push_back(item.action);
        bool enabled = item.enabled && item.shown;
        if (box.instance && i < box.instance->items.size())
            enabled = box.instance->items[i]->enabled && box.instance->items[i]->shown;
        if (enabled) box.allowed.push_back(item.action);
    }
    // One OK button: a notice. A single button of another action (Continue) waits for its answer.
    if (all.empty() || (all.size() == 1 && all.front() == ACTIONBUTTON_OK))
        box.noticeAnswer = all.empty() ? ACTIONBUTTON_OK : all.front();
    return box;
}

// The default answer as this box understands it: yes is its affirmative button, no its negative one.
std::optional<int> defaultFor(const BoxButtons& box, int wanted) {
    auto has = [&](int a) { return std::find(box.allowed.begin(), box.allowed.end(), a) != box.allowed.end(); };
    if (wanted == ACTIONBUTTON_YES || wanted == ACTIONBUTTON_OK) {
        if (has(ACTIONBUTTON_YES)) return ACTIONBUTTON_YES;
        if (has(ACTIONBUTTON_OK)) return ACTIONBUTTON_OK;
        return std::nullopt;
    }
    if (wanted == ACTIONBUTTON_NO || wanted == ACTIONBUTTON_CANCEL) {
        if (has(ACTIONBUTTON_NO)) return ACTIONBUTTON_NO;
        if (has(ACTIONBUTTON_CANCEL)) return ACTIONBUTTON_CANCEL;
        return std::nullopt;
    }
    if (has(wanted)) return wanted;
    return std::nullopt;
}

bool defaultIsNegative() {
    const auto& d = host().answers.defaultAnswer;
    return d && (*d == ACTIONBUTTON_NO || *d == ACTIONBUTTON_CANCEL);
}

// Records the error of an unanswerable question and stops the session.
[[noreturn]] void stopUnanswered(const std::string& question, nlohmann::json details) {
    details["event"] = "error";
    details["message"] = question;
    if (host().output.scriptLine > 0) details["line"] = host().output.scriptLine;
    recordEvent(std::move(details));
    throw SessionStop(3, question);
}

// How often the same question may come back with the same default answer, with nothing else
// happening in between, before the session is stopped as caught in a loop.
constexpr int kMaxDefaultedRepeats = 5;

// Counts a question the default answered; stops the session when it is the same question with the
// same answer as the last one, more than kMaxDefaultedRepeats times, with only message boxes between.
void checkDefaultLoop(int dialogId, const std::string& shown, int answer) {
    auto& a = host().answers;
    const auto& events = host().output.events;
    const std::string key = std::to_string(dialogId) + "\n" + std::to_string(answer) + "\n" + shown;
    bool progress = key != a.lastDefaulted || a.eventsAfterLastDefaulted > events.size();
    for (std::size_t i = a.eventsAfterLastDefaulted; !progress && i < events.size(); ++i)
        progress = events[i].value("event", "") != "messageBox";
    a.defaultedRepeats = progress ? 0 : a.defaultedRepeats + 1;
    a.lastDefaulted = key;
    if (a.defaultedRepeats < kMaxDefaultedRepeats) return;
    a.defaultedRepeats = 0;
    const std::string message = "message box " + std::to_string(dialogId) + " \"" + shown + "\" came back " +
                                std::to_string(kMaxDefaultedRepeats + 1) + " times in a row with the answer " +
                                answerJson(answer).dump() + " and nothing else happening: stopped as a loop";
    nlohmann::json details = {{"event", "error"}, {"message", message}, {"dialog", dialogId}, {"text", shown}};
    if (host().output.scriptLine > 0) details["line"] = host().output.scriptLine;
    recordEvent(std::move(details));
    throw SessionStop(2, message);
}

}  // namespace
}  // namespace subhost

extern "C" {

int mdlDialog_openMessageBox(int dialogId, WCharCP text, int icon) {
    using namespace subhost;
    const std::string shown = utf8(text);
    BoxButtons box = boxButtons(dialogId);
    int answer = 0;
    if (box.noticeAnswer) {
        answer = *box.noticeAnswer;
    } else {
        nlohmann::json allowed = nlohmann::json::array();
        for (int a : box.allowed) allowed.push_back(answerJson(a));
        const std::string boxName = "message box " + std::to_string(dialogId) + " \"" + shown + "\"";
        auto& answers = host().answers;
        if (!answers.answers.empty()) {
            answer = answers.answers.front();
            answers.answers.pop_front();
            if (answer == shell::kAnswerWait) {
                // Waits for the programs the host started (an external editor), then presses the one button.
                shell::waitForStarted(shell::kWaitSeconds);
                if (box.allowed.size() == 1) answer = box.allowed.front();
            }
            if (std::find(box.allowed.begin(), box.allowed.end(), answer) == box.allowed.end())
                stopUnanswered("answer " + answerJson(answer).dump() + " is not an enabled button of " + boxName +
                                   "; allowed answers: " + allowed.dump(),
                               {{"dialog", dialogId}, {"text", shown}, {"allowed", allowed}});
        } else if (answers.defaultAnswer) {
            const auto mapped = defaultFor(box, *answers.defaultAnswer);
            if (!mapped)
                stopUnanswered("the default answer does not fit " + boxName + "; allowed answers: " + allowed.dump(),
                               {{"dialog", dialogId}, {"text", shown}, {"allowed", allowed}});
            answer = *mapped;
            checkDefaultLoop(dialogId, shown, answer);
        } else {
            stopUnanswered("no answer for " + boxName + "; allowed answers: " + allowed.dump(),
                           {{"dialog", dialogId}, {"text", shown}, {"allowed", allowed}});
        }
    }
    recordEvent({{"event", "messageBox"},
                 {"dialog", dialogId},
                 {"icon", icon},
                 {"text", shown},
                 {"answer", answerJson(answer)}});
    if (!box.noticeAnswer) host().answers.eventsAfterLastDefaulted = host().output.events.size();
    if (box.instance) closeDialogNow(box.instance, answer, 0);
    return answer;
}

CompletionBar* mdlDialog_completionBarOpen(WCharCP title) {
    using namespace subhost;
    auto& bar = host().misc.completionBar;
    bar = std::make_unique<CompletionBar>();
    bar->title = title ? title : L"";
    recordEvent({{"event", "completionBar"}, {"action", "open"}, {"title", utf8(title)}});
    return bar.get();
}

void mdlDialog_completionBarUpdate(CompletionBar* bar, WCharCP text, int percent) {
    using namespace subhost;
    if (!bar || bar != host().misc.completionBar.get()) return;
    recordEvent({{"event", "completionBar"}, {"action", "update"}, {"text", utf8(text)}, {"percent", percent}});
}

void mdlDialog_completionBarClose(CompletionBar* bar) {
    using namespace subhost;
    if (!bar || bar != host().misc.completionBar.get()) return;
    recordEvent({{"event", "completionBar"}, {"action", "close"}});
    host().misc.completionBar.reset();
}

}  // extern "C"

namespace subhost {
namespace {

int fileDialog(const char* kind, WCharP fileName, WCharCP suggested, WCharCP filter, WCharCP defaultDir,
               WCharCP title) {
    nlohmann::json event{{"event", "fileDialog"},         {"kind", kind},
                         {"filter", utf8(filter)},        {"title", utf8(title)},
                         {"directory", utf8(defaultDir)}, {"suggested", utf8(suggested)}};
    auto& files = host().answers.files;
    std::optional<std::string> answer;
    if (!files.empty()) {
        answer = files.front();
        files.pop_front();
    } else if (!defaultIsNegative()) {
        stopUnanswered(std::string("no answer for the ") + kind + " file dialog \"" + utf8(title) + "\"",
                       {{"dialog", "file"}, {"kind", kind}, {"title", utf8(title)}});
    }
    event["answer"] = answer ? nlohmann::json(utf8Narrow(answer->c_str())) : nlohmann::json("cancel");
    recordEvent(std::move(event));
    if (answer && answer->size() >= static_cast<std::size_t>(MAXFILELENGTH)) {
        // The dialog cannot hand back a longer name: the answer counts as a cancel.
        recordEvent(
            {{"event", "error"},
             {"message", "file answer longer than " + std::to_string(MAXFILELENGTH - 1) + " characters: cancelled"}});
        return 1;
    }
    if (!answer) return 1;
    copyWide(fileName, MAXFILELENGTH, widen(*answer));
    return SUCCESS;
}

constexpr int kIconWarning = 3;  // message box icons as the host numbers them
constexpr int kIconError = 4;

// What a file-creation dialog makes of a chosen name that is already taken: nothing when it is free;
// a notice, and the dialog again, when it is not a regular file (a folder, a device, a pipe); a
// question whether to replace it when it is one. True when the name may be used.
bool acceptCreated(WCharCP fileName) {
    const std::string path = utf8(fileName);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        // A link to nowhere makes a new file where it points; a broken name of any other kind is refused.
        struct stat link {};
        return ::lstat(path.c_str(), &link) != 0 || S_ISLNK(link.st_mode);
    }
    if (!S_ISREG(st.st_mode)) {
        mdlDialog_openMessageBox(MSGBOX_NOTICE,
                                 widen(path + "\nThis is not a regular file and cannot be replaced. Please choose "
                                              "another name.")
                                     .c_str(),
                                 kIconError);
        return false;
    }
    return mdlDialog_openMessageBox(MSGBOX_YESNO, widen(path + " already exists.\nDo you want to replace it?").c_str(),
                                    kIconWarning) == ACTIONBUTTON_YES;
}

}  // namespace
}  // namespace subhost

extern "C" {

int mdlDialog_fileOpen(WCharP fileName, RscFileHandle, int, WCharCP suggested, WCharCP filter, WCharCP defaultDir,
                       WCharCP title) {
    return subhost::fileDialog("open", fileName, suggested, filter, defaultDir, title);
}

int mdlDialog_fileCreate(WCharP fileName, RscFileHandle, int, WCharCP suggested, WCharCP filter, WCharCP defaultDir,
                         WCharCP title) {
    // Like a desktop save dialog: an existing file is replaced only after a yes, and what is not a
    // regular file is never offered for replacing; either way the dialog asks again.
    for (;;) {
        const int status = subhost::fileDialog("create", fileName, suggested, filter, defaultDir, title);
        if (status != SUCCESS || subhost::acceptCreated(fileName)) return status;
    }
}

int ChooseColorA(CHOOSECOLORA* choose) {
    using namespace subhost;
    if (!choose) return 0;
    const COLORREF start = choose->rgbResult;
    nlohmann::json event{{"event", "colorChooser"},
                         {"start", {start & 0xFF, (start >> 8) & 0xFF, (start >> 16) & 0xFF}},
                         {"flags", choose->Flags}};
    auto& colors = host().answers.colors;
    std::optional<std::array<std::uint8_t, 3>> answer;
    if (!colors.empty()) {
        answer = colors.front();
        colors.pop_front();
    } else if (!defaultIsNegative()) {
        stopUnanswered("no answer for the colour chooser", {{"dialog", "color"}});
    }
    if (!answer) {
        event["answer"] = "cancel";
        recordEvent(std::move(event));
        return 0;
    }
    event["answer"] = {(*answer)[0], (*answer)[1], (*answer)[2]};
    recordEvent(std::move(event));
    choose->rgbResult = COLORREF((*answer)[0]) | (COLORREF((*answer)[1]) << 8) | (COLORREF((*answer)[2]) << 16);
    return 1;
}

}  // extern "C"
