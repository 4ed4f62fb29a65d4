// Reading a design description file within the limits every design file is held to, shared by the
// design that is opened and the references it attaches.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace subhost {

// Reads the design description file at path as JSON (at most 16 MiB, nested at most 64 levels);
// nullopt with *problem (what is wrong, without the path) on failure.
std::optional<nlohmann::json> readDesignFile(const std::string& path, std::string* problem);

// While one lives, path is the design being opened: its references may not attach it again.
class OpeningDesign {
public:
    explicit OpeningDesign(const std::string& path);
    ~OpeningDesign();
    OpeningDesign(const OpeningDesign&) = delete;
    OpeningDesign& operator=(const OpeningDesign&) = delete;
};

}  // namespace subhost
