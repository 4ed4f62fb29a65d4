// A session told in words: transcript events turned into short lines a person reads.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace pixelmend {

// Takes transcript events (in order) and a folder whose files are named relative to it; gives one
// line per thing the user would notice: designs opened, saved and closed, the add-on loaded and
// unloaded, each command started, each question with its answer, files written, rasters attached,
// undo and redo, errors. Dynamics, prompts and the like give no line; an event without its
// expected fields gives a line that says so. Never fails.
std::vector<std::string> describeSession(std::span<const nlohmann::json> events, const std::filesystem::path& base);

}  // namespace pixelmend
