// Output of the substitute host: prompts, status, errors, messages and the
// message centre become transcript events with the exact texts.
#include "subhost/events.h"
#include "subhost/state.h"

namespace subhost {
namespace {

using Json = nlohmann::json;

// The empty values of the fields that do not apply to an event.
const Json kNoText = "";
const Json kNoNumber = 0;
const Json kNo = false;
const Json kNoList = Json::array();
const Json kNoObject = Json::object();

// The fields of a text the add-on shows (mdlOutput_printf / mdlOutput_rscPrintf): the text and,
// for a message of a resource list, the list and message ids and whether the message was missing.
std::vector<std::pair<const char*, Json>> outputFields() {
    return {{"text", kNoText}, {"list", kNoNumber}, {"id", kNoNumber}, {"missing", kNo}};
}

// Every event type with its fields, in the order of the table in subhost/README.md.
std::vector<EventShape> makeShapes() {
    const auto output = outputFields();
    std::vector<std::pair<const char*, Json>> keyin = {{"keyin", kNoText}};
    keyin.insert(keyin.end(), output.begin(), output.end());
    std::vector<std::pair<const char*, Json>> error = {{"message", kNoText}, {"line", kNoNumber}};
    error.insert(error.end(), output.begin(), output.end());
    error.insert(error.end(), {{"dialog", kNoNumber}, {"allowed", kNoList}, {"kind", kNoText}, {"title", kNoText}});
    return {
        {"load", {{"module", kNoText}, {"how", kNoText}, {"task", kNoText}}},
        {"unload", {{"task", kNoText}, {"type", kNoNumber}}},
        {"unloadRefused", {{"task", kNoText}, {"type", kNoNumber}}},
        {"menu", {{"action", kNoText}, {"id", kNoNumber}, {"title", kNoText}}},
        {"design",
         {{"action", kNoText}, {"name", kNoText}, {"readOnly", kNo}, {"views", kNoNumber}, {"path", kNoText}}},
        {"command", output},
        {"prompt", output},
        {"status", output},
        {"message", output},
        {"keyin", keyin},
        {"error", error},
        {"keyinUnknown", {{"keyin", kNoText}}},
        {"commandUnknown", {{"command", kNoText}, {"argument", kNoText}}},
        {"messageCenter", {{"priority", kNoNumber}, {"brief", kNoText}, {"detail", kNoText}, {"alert", kNo}}},
        {"messageBox", {{"dialog", kNoNumber}, {"icon", kNoNumber}, {"text", kNoText}, {"answer", kNoText}}},
        {"fileDialog",
         {{"kind", kNoText},
          {"filter", kNoText},
          {"title", kNoText},
          {"directory", kNoText},
          {"suggested", kNoText},
          {"answer", kNoText}}},
        {"colorChooser", {{"start", kNoList}, {"flags", kNoNumber}, {"answer", kNoText}}},
        {"completionBar", {{"action", kNoText}, {"title", kNoText}, {"text", kNoText}, {"percent", kNoNumber}}},
        {"dialog", {{"action", kNoText}, {"id", kNoNumber}, {"title", kNoText}}},
        {"toolSettings", {{"action", kNoText}, {"dialog", kNoNumber}}},
        {"settings", {{"record", kNoText}, {"fields", kNoObject}, {"error", kNoText}}},
        {"items", {{"dialog", kNoText}, {"id", kNoNumber}, {"title", kNoText}, {"items", kNoList}, {"error", kNoText}}},
        {"menus", {{"menus", kNoList}}},
        {"undo", {{"groups", kNoNumber}, {"count", kNoNumber}}},
        {"redo", {{"groups", kNoNumber}, {"count", kNoNumber}}},
        {"render", {{"path", kNoText}, {"width", kNoNumber}, {"height", kNoNumber}, {"notes", kNoList}}},
        {"elementAdded", {{"id", kNoNumber}}},
        {"elementChanged", {{"id", kNoNumber}}},
        {"elementDeleted", {{"id", kNoNumber}}},
        {"fence", {{"action", kNoText}, {"view", kNoNumber}, {"points", kNoList}}},
        {"selection", {{"action", kNoText}, {"ids", kNoList}}},
        {"expanded", {{"id", kNoNumber}, {"elements", kNoList}, {"notes", kNoList}}},
        {"display", {{"drawMode", kNoNumber}, {"element", kNoObject}}},
        {"transient",
         {{"action", kNoText},
          {"id", kNoNumber},
          {"viewMask", kNoNumber},
          {"drawMode", kNoNumber},
          {"element", kNoObject}}},
        {"dynamics", {{"elements", kNoList}}},
        {"elements", {{"elements", kNoList}}},
        {"scaleInfo", {{"dialog", kNoNumber}, {"item", kNoNumber}, {"maximum", kNoNumber}, {"label", kNoText}}},
        {"viewUpdate", {{"view", kNoNumber}}},
        {"rasterAttached", {{"path", kNoText}}},
        {"rasterDetached", {{"path", kNoText}}},
        {"rasterRefused", {{"file", kNoText}, {"reason", kNoText}}},
        {"rasterDamaged", {{"path", kNoText}, {"damage", kNoText}}},
        {"rasters", {{"rasters", kNoList}}},
        {"fileWritten", {{"path", kNoText}}},
        {"fileRestored", {{"path", kNoText}}},
        {"clipMaskAdded", {{"path", kNoText}, {"polygon", kNoList}}},
        {"clipBoundarySet", {{"path", kNoText}, {"polygon", kNoList}}},
        {"libraryRefused", {{"name", kNoText}, {"reason", kNoText}}},
        {"help", {{"file", kNoText}, {"destination", kNoText}, {"viewer", kNoText}, {"result", kNoText}}},
        {"about",
         {{"product", kNoText},
          {"module", kNoText},
          {"version", kNoText},
          {"description", kNoText},
          {"extra", kNoText}}},
        {"shellExecute", {{"verb", kNoText}, {"path", kNoText}, {"command", kNoList}, {"error", kNoText}}},
        {"openWith", {{"path", kNoText}, {"answer", kNoText}}},
    };
}

const char* eventOfType(int msgType) {
    switch (msgType) {
    case MSG_ERROR:
        return "error";
    case MSG_PROMPT:
        return "prompt";
    case MSG_STATUS:
        return "status";
    case MSG_COMMAND:
        return "command";
    case MSG_KEYIN:
        return "keyin";
    default:
        return "message";
    }
}

}  // namespace

const std::vector<EventShape>& eventShapes() {
    static const std::vector<EventShape> shapes = makeShapes();
    return shapes;
}

const EventShape* eventShape(const std::string& name) {
    for (const EventShape& shape : eventShapes())
        if (name == shape.name) return &shape;
    return nullptr;
}

Json shapedEvent(Json event) {
    if (!event.is_object() || !event.contains("event") || !event["event"].is_string()) return event;
    const EventShape* shape = eventShape(event["event"].get<std::string>());
    if (!shape) return event;
    if (shape->name == std::string("error") && !event.contains("line")) event["line"] = host().output.scriptLine;
    for (const auto& [field, empty] : shape->fields)
        if (!event.contains(field)) event[field] = empty;
    return event;
}

}  // namespace subhost

extern "C" {

void mdlOutput_printf(int msgType, WCharCP text) {
    using namespace subhost;
    recordEvent({{"event", eventOfType(msgType)}, {"text", utf8(text)}});
}

void mdlOutput_rscPrintf(int msgType, RscFileHandle /*rsc*/, int messageListId, int messageId) {
    using namespace subhost;
    const auto text = messageText(messageListId, messageId);
    nlohmann::json event{{"event", eventOfType(msgType)},
                         {"list", messageListId},
                         {"id", messageId},
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
