// Output of the substitute host: prompts, status, errors, messages and the
// message centre become transcript events with the exact texts.
#include "subhost/state.h"

namespace subhost {
namespace {

const char* eventOfType(int msgType) {
    switch (msgType) {
    case MSG_ERROR: return "error";
    case MSG_PROMPT: return "prompt";
    case MSG_STATUS: return "status";
    case MSG_COMMAND: return "command";
    case MSG_KEYIN: return "keyin";
    default: return "message";
    }
}

}  // namespace
}  // namespace subhost

extern "C" {

void mdlOutput_printf(int msgType, WCharCP text) {
    using namespace subhost;
    recordEvent({{"event", eventOfType(msgType)}, {"text", utf8(text)}});
}

void mdlOutput_rscPrintf(int msgType, RscFileHandle /*rsc*/, int messageListId, int messageId) {
    using namespace subhost;
    const auto text = messageText(messageListId, messageId);
    nlohmann::json event{{"event", eventOfType(msgType)}, {"list", messageListId}, {"id", messageId},
                         {"text", utf8Narrow(text ? text->c_str() : "")}};
    if (!text) event["missing"] = true;
    recordEvent(std::move(event));
}

void mdlOutput_error(WCharCP text) { mdlOutput_printf(MSG_ERROR, text); }

void mdlOutput_messageCenter(int priority, WCharCP brief, WCharCP detail, bool openAlert) {
    using namespace subhost;
    recordEvent({{"event", "messageCenter"},
                 {"priority", priority},
                 {"brief", utf8(brief)},
                 {"detail", utf8(detail)},
                 {"alert", openAlert}});
}

}  // extern "C"
