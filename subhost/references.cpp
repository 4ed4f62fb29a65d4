// Reference designs attached to the active design.
#include "subhost/elements.h"

namespace subhost::elements {

std::string loadReferences(const nlohmann::json& doc, const std::string&, ElementState*) {
    if (doc.contains("references")) return "\"references\" are not read yet";
    return {};
}

}  // namespace subhost::elements
