// What a batch run reads from the host's transcript.
#include "cli/batch_events.h"

#include <nlohmann/json.hpp>

namespace pixelmend {
namespace {

constexpr int kIconError = 4;       // message box icon of refusals and errors
constexpr int kPriorityError = 10;  // message centre priority of errors

}  // namespace

// The failure the transcript events from index `from` on report, or an empty text.
std::string reportedFailure(std::size_t from) {
    const auto& events = subhost::transcript();
    for (std::size_t i = from; i < events.size(); ++i) {
        const nlohmann::json& e = events[i];
        const std::string kind = e.value("event", "");
        // A question answered yes is the user's consent, not a refusal; what follows tells.
        if (kind == "messageBox" && e.value("icon", 0) == kIconError && e.value("answer", nlohmann::json()) != "yes")
            return e.value("text", "");
        if (kind == "messageCenter" && e.value("priority", 0) == kPriorityError) {
            const std::string detail = e.value("detail", "");
            return e.value("brief", "") + (detail.empty() ? "" : " (" + detail + ")");
        }
        if (kind == "rasterRefused") return "not attached: " + e.value("reason", "");
        if (kind == "keyinUnknown") return "the add-on does not know the key-in " + e.value("keyin", "");
        if (kind == "error" && !e.value("text", std::string()).empty()) return e.value("text", std::string());
    }
    return {};
}

// Whether any event from index `from` on is a raster file written.
bool fileWritten(std::size_t from) {
    const auto& events = subhost::transcript();
    for (std::size_t i = from; i < events.size(); ++i)
        if (events[i].value("event", "") == "fileWritten") return true;
    return false;
}

// The damage of a file edited with --accept-damaged, from index `from` on; empty when none.
std::string acceptedDamage(std::size_t from) {
    const auto& events = subhost::transcript();
    for (std::size_t i = from; i < events.size(); ++i)
        if (events[i].value("event", "") == "rasterDamaged") return events[i].value("damage", "");
    return {};
}

// The last question of the events [from, to) that was answered no or cancel, or an empty text.
std::string declinedQuestion(std::size_t from, std::size_t to) {
    const auto& events = subhost::transcript();
    std::string text;
    for (std::size_t i = from; i < to && i < events.size(); ++i) {
        const nlohmann::json& e = events[i];
        if (e.value("event", "") != "messageBox" || !e.contains("answer")) continue;
        if (e["answer"] == "no" || e["answer"] == "cancel") text = e.value("text", "");
    }
    return text;
}

// The reason of a run stopped by a question nobody answered.
std::string stopReason(const subhost::SessionStop& stop) {
    const auto& events = subhost::transcript();
    // A message box nobody answered: its error event lists the buttons that could have.
    if (!events.empty() && events.back().value("event", "") == "error" &&
        !events.back().value("allowed", nlohmann::json::array()).empty())
        return "asks \"" + events.back()["text"].get<std::string>() + "\"; answer with --yes or --no";
    return "stopped: " + stop.question();
}

// Unloads the add-on without saving the run's settings.
void unloadWithoutSaving() {
    if (!subhost::applicationLoaded()) return;
    subhost::queueAnswer(7);
    subhost::unloadApplication(0);
}

}  // namespace pixelmend
