// Reference designs attached to the active design: each read once when the design opens, its elements
// moved by the reference's offset into master coordinates and kept apart from the model's own, never
// changed. References of a reference are not attached.
#include <cmath>
#include <filesystem>
#include <set>

#include "subhost/designfile.h"
#include "subhost/elements.h"

namespace subhost {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Most references a design may attach.
constexpr std::size_t kMaxReferences = 100;

// Module state: the design being opened, which no reference may attach again.
struct ReferenceState {
    std::string openingDesign;
};

ReferenceState& referenceState() {
    static ReferenceState state;
    return state;
}

// The path as one spelling (absolute, . and .. and links resolved as far as it exists), for comparing.
std::string samePath(const fs::path& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return (ec ? fs::absolute(path).lexically_normal() : p).string();
}

// Reads one "references" entry: its file (against folder) and offset; an empty text when good.
std::string readEntry(const json& entry, const std::string& folder, std::string* file, DPoint3d* offset) {
    if (!entry.is_object() || !entry.contains("file") || !entry["file"].is_string() ||
        entry["file"].get<std::string>().empty())
        return "must be an object with a \"file\"";
    const fs::path given = entry["file"].get<std::string>();
    *file = given.is_absolute() ? given.string() : (fs::path(folder) / given).string();
    *offset = DPoint3d{};
    if (!entry.contains("offset")) return {};
    const json& o = entry["offset"];
    bool good = o.is_array() && (o.size() == 2 || o.size() == 3);
    for (std::size_t i = 0; good && i < o.size(); ++i) good = o[i].is_number() && std::isfinite(o[i].get<double>());
    if (!good) return "\"offset\" must be [x, y] or [x, y, z]";
    *offset = DPoint3d{o[0].get<double>(), o[1].get<double>(), o.size() == 3 ? o[2].get<double>() : 0.0};
    return {};
}

// Refuses a reference whose own references attach the design being opened (a loop).
std::string loopProblem(const json& doc, const std::string& file) {
    const std::string& master = referenceState().openingDesign;
    if (master.empty() || !doc.contains("references") || !doc["references"].is_array()) return {};
    const std::string folder = fs::path(file).parent_path().string();
    for (const json& entry : doc["references"]) {
        std::string back;
        DPoint3d ignored;
        if (readEntry(entry, folder, &back, &ignored).empty() && samePath(back) == master)
            return "refers back to the design (a reference loop)";
    }
    return {};
}

// Reads the reference's elements, each moved by the offset, into *ref; at most room of them.
std::string readElements(const json& doc, std::size_t room, elements::Reference* ref) {
    if (!doc.contains("elements")) return {};
    const json& list = doc["elements"];
    if (!list.is_array()) return "\"elements\" must be a list";
    if (list.size() > room)
        return "too many elements (more than " + std::to_string(elements::kMaxElements) + " in all)";
    Transform shift{};
    for (int i = 0; i < 3; ++i) shift.form3d[i][i] = 1.0;
    shift.form3d[0][3] = ref->offset.x;
    shift.form3d[1][3] = ref->offset.y;
    shift.form3d[2][3] = ref->offset.z;
    std::uint32_t pos = 1;
    for (std::size_t i = 0; i < list.size(); ++i) {
        elements::DesignElement element;
        const json& e = list[i];
        const std::string why = elements::readElement(e, ref->definitions, 0, &element.shape);
        if (!why.empty()) return "element " + std::to_string(i) + ": " + why;
        const json id = e.value("id", json());
        element.id = id.is_number_integer() && id.get<long long>() >= 1 && id.get<long long>() <= 1000000000
                         ? int(id.get<long long>())
                         : int(i) + 1;
        elements::transformShape(element.shape, shift);
        element.filePos = pos++;
        ref->elements.emplace(element.filePos, std::move(element));
    }
    return {};
}

// Reads the reference file into *ref (its file and offset set); an empty text when good.
std::string readReference(std::size_t room, elements::Reference* ref) {
    if (!referenceState().openingDesign.empty() && samePath(ref->file) == referenceState().openingDesign)
        return "is the design itself";
    std::string problem;
    const std::optional<json> doc = readDesignFile(ref->file, &problem);
    if (!doc) return problem;
    if (!doc->is_object()) return "must be a JSON object";
    if (!(problem = loopProblem(*doc, ref->file)).empty()) return problem;
    if (!(problem = elements::readDefinitions(*doc, &ref->definitions)).empty()) return problem;
    return readElements(*doc, room, ref);
}

}  // namespace

OpeningDesign::OpeningDesign(const std::string& path) { referenceState().openingDesign = samePath(path); }

OpeningDesign::~OpeningDesign() { referenceState().openingDesign.clear(); }

}  // namespace subhost

namespace subhost::elements {

std::string loadReferences(const nlohmann::json& doc, const std::string& folder, ElementState* out) {
    if (!doc.contains("references")) return {};
    const nlohmann::json& list = doc["references"];
    if (!list.is_array()) return "\"references\" must be a list";
    if (list.size() > kMaxReferences)
        return "too many references (" + std::to_string(list.size()) + ", at most " + std::to_string(kMaxReferences) +
               ")";
    std::size_t count = out->elements.size();
    for (std::size_t i = 0; i < list.size(); ++i) {
        auto ref = std::make_unique<Reference>();
        ref->model.readOnly = true;
        std::string why = readEntry(list[i], folder, &ref->file, &ref->offset);
        if (!why.empty()) return "reference " + std::to_string(i) + ": " + why;
        why = readReference(kMaxElements - std::min(count, kMaxElements), ref.get());
        if (!why.empty()) return "reference " + std::to_string(i) + " (" + ref->file + "): " + why;
        count += ref->elements.size();
        out->references.push_back(std::move(ref));
    }
    return {};
}

}  // namespace subhost::elements
