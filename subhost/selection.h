// The selection set and element expansion as session scripts drive them.
#pragma once

#include <string>
#include <vector>

namespace subhost::elements {

// Makes the elements of the active model with these ids the selection set ("selection" event); false with
// *error naming the first id the model does not hold (the selection is then left as it was).
bool selectIds(const std::vector<int>& ids, std::string* error);
// Drops the selection set ("selection" event with action "cleared").
void clearSelection();
// Records what the element with id of the active model shows as ("expanded" event: the simple elements of
// its display geometry and any notes); false with *error when the model holds no such element.
bool dumpExpanded(int id, std::string* error);

}  // namespace subhost::elements
