// The fixed field sets of the transcript events: every event of a type carries the same
// fields, a field that does not apply to one event with its type's empty value.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace subhost {

// One event type: its name and its fields, each with the value it has when it does not apply.
struct EventShape {
    const char* name;
    std::vector<std::pair<const char*, nlohmann::json>> fields;
};

// Every event type the host writes, in the order subhost/README.md lists them.
const std::vector<EventShape>& eventShapes();

// The shape of the event named `name`; null for a name no writer uses.
const EventShape* eventShape(const std::string& name);

// Takes an event ({"event": NAME, ...}) and gives it with every field of its type, the absent
// ones at their empty value; an error event's absent line is the script line being run (0 outside
// a script). An event of an unknown type is given as it is.
nlohmann::json shapedEvent(nlohmann::json event);

}  // namespace subhost
