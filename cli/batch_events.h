// What a batch run reads from the host's transcript: refusals, written files, declined questions.
#pragma once

#include <cstddef>
#include <string>

#include "subhost/host.h"

namespace pixelmend {

// The failure the transcript events from index from on report (an error box, an error in the message
// centre, a refused attachment, an unknown key-in), or an empty text.
std::string reportedFailure(std::size_t from);
// True when an event from index from on is a raster file written.
bool fileWritten(std::size_t from);
// The damage of a file edited with --accept-damaged, from index from on; empty when none.
std::string acceptedDamage(std::size_t from);
// The last question of the events [from, to) answered no or cancel, or an empty text.
std::string declinedQuestion(std::size_t from, std::size_t to);
// The reason of a run stopped by a question nobody answered.
std::string stopReason(const subhost::SessionStop& stop);
// Unloads the add-on without saving the run's settings.
void unloadWithoutSaving();

}  // namespace pixelmend
