// The published record of the substitute host: access strings of dialog items
// resolved to fields of the record, values loaded from and stored into them,
// and the record shown field by field.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "subhost/state.h"

namespace subhost {
namespace {

std::size_t elementSize(const rsc::Field& field) {
    if (field.elementSize != 0) return field.elementSize;
    switch (field.kind) {
    case rsc::FieldKind::Int32:
        return sizeof(std::int32_t);
    case rsc::FieldKind::Double:
        return sizeof(double);
    case rsc::FieldKind::Rgb:
        return 3;
    case rsc::FieldKind::Text:
        return 1;
    }
    return 1;
}

// Address of the bound element; null when it would fall outside the record.
unsigned char* elementAddress(const ItemBinding& binding) {
    const auto& record = host().app.record;
    if (!record || !binding.field || binding.index < 0 || binding.index >= std::max(1, binding.field->arrayCount))
        return nullptr;
    const std::size_t size = elementSize(*binding.field);
    const std::size_t offset = binding.field->offset + size * static_cast<std::size_t>(binding.index);
    if (offset + size > record->type->size) return nullptr;
    return static_cast<unsigned char*>(record->address) + offset;
}

std::string formatDouble(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

bool parseLong(const std::string& text, long* out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    *out = v;
    return true;
}

bool parseDouble(const std::string& text, double* out) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != 0 || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool parseRgb(const std::string& text, unsigned char rgb[3]) {
    int values[3];
    char extra;
    if (std::sscanf(text.c_str(), "%d , %d , %d %c", &values[0], &values[1], &values[2], &extra) != 3) return false;
    for (int i = 0; i < 3; ++i) {
        if (values[i] < 0 || values[i] > 255) return false;
        rgb[i] = static_cast<unsigned char>(values[i]);
    }
    return true;
}

const rsc::Field* findField(const std::string& name) {
    const auto& record = host().app.record;
    if (!record) return nullptr;
    for (const auto& field : record->type->fields)
        if (field.name && name == field.name) return &field;
    return nullptr;
}

}  // namespace

std::optional<ItemBinding> bindAccess(const char* access) {
    const auto& record = host().app.record;
    if (!access || !record) return std::nullopt;
    const std::string text = access;
    const auto dot = text.find('.');
    if (dot == std::string::npos || text.substr(0, dot) != record->varName) return std::nullopt;
    std::string name = text.substr(dot + 1);
    int index = 0;
    const auto bracket = name.find('[');
    if (bracket != std::string::npos) {
        long parsed = 0;
        if (name.back() != ']' || !parseLong(name.substr(bracket + 1, name.size() - bracket - 2), &parsed))
            return std::nullopt;
        index = static_cast<int>(parsed);
        name = name.substr(0, bracket);
    }
    const rsc::Field* field = findField(name);
    if (!field || index < 0 || index >= std::max(1, field->arrayCount)) return std::nullopt;
    return ItemBinding{field, index};
}

void loadFromBinding(const ItemBinding& binding, MSValueDescr& value, std::wstring& text) {
    const unsigned char* p = elementAddress(binding);
    if (!p) return;
    value = MSValueDescr{};
    switch (binding.field->kind) {
    case rsc::FieldKind::Int32: {
        std::int32_t v;
        std::memcpy(&v, p, sizeof v);
        value.kind = MSValueDescr::Long;
        value.longValue = v;
        text = widen(std::to_string(v));
        break;
    }
    case rsc::FieldKind::Double: {
        double v;
        std::memcpy(&v, p, sizeof v);
        value.kind = MSValueDescr::Double;
        value.doubleValue = v;
        text = widen(formatDouble(v));
        break;
    }
    case rsc::FieldKind::Text: {
        const std::size_t capacity = elementSize(*binding.field);
        const void* nul = std::memchr(p, 0, capacity);
        const std::size_t length = nul ? static_cast<const unsigned char*>(nul) - p : capacity;
        value.kind = MSValueDescr::String;
        text = widen(std::string(reinterpret_cast<const char*>(p), length));
        break;
    }
    case rsc::FieldKind::Rgb:
        value.kind = MSValueDescr::String;
        value.longValue = p[0] | (p[1] << 8) | (p[2] << 16);
        text = widen(std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]));
        break;
    }
}

bool storeToBinding(const ItemBinding& binding, const MSValueDescr& value, const std::wstring& text) {
    unsigned char* p = elementAddress(binding);
    if (!p) return false;
    const std::string typed = narrow(text);
    switch (binding.field->kind) {
    case rsc::FieldKind::Int32: {
        long v = 0;
        if (value.kind == MSValueDescr::Long)
            v = value.longValue;
        else if (value.kind == MSValueDescr::Double)
            v = std::lround(value.doubleValue);
        else if (!parseLong(typed, &v))
            return false;
        const auto stored = static_cast<std::int32_t>(v);
        std::memcpy(p, &stored, sizeof stored);
        return true;
    }
    case rsc::FieldKind::Double: {
        double v = 0;
        if (value.kind == MSValueDescr::Double)
            v = value.doubleValue;
        else if (value.kind == MSValueDescr::Long)
            v = static_cast<double>(value.longValue);
        else if (!parseDouble(typed, &v))
            return false;
        std::memcpy(p, &v, sizeof v);
        return true;
    }
    case rsc::FieldKind::Text: {
        const std::size_t capacity = elementSize(*binding.field);
        if (capacity == 0) return false;
        const std::size_t n = std::min(typed.size(), capacity - 1);
        std::memset(p, 0, capacity);
        std::memcpy(p, typed.data(), n);
        return true;
    }
    case rsc::FieldKind::Rgb: {
        unsigned char rgb[3];
        if (value.kind == MSValueDescr::Long) {
            rgb[0] = value.longValue & 0xFF;
            rgb[1] = (value.longValue >> 8) & 0xFF;
            rgb[2] = (value.longValue >> 16) & 0xFF;
        } else if (!parseRgb(typed, rgb)) {
            return false;
        }
        std::memcpy(p, rgb, 3);
        return true;
    }
    }
    return false;
}

nlohmann::json fieldJson(const ItemBinding& binding) {
    MSValueDescr value;
    std::wstring text;
    if (!elementAddress(binding)) return nullptr;
    loadFromBinding(binding, value, text);
    switch (binding.field->kind) {
    case rsc::FieldKind::Int32:
        return value.longValue;
    case rsc::FieldKind::Double:
        return value.doubleValue;
    case rsc::FieldKind::Text:
        return utf8(text);
    case rsc::FieldKind::Rgb:
        return {value.longValue & 0xFF, (value.longValue >> 8) & 0xFF, (value.longValue >> 16) & 0xFF};
    }
    return nullptr;
}

std::optional<ItemBinding> namedField(const std::string& name, std::string* error) {
    if (!host().app.record) {
        if (error) *error = "no record is published";
        return std::nullopt;
    }
    if (const rsc::Field* field = findField(name)) {
        if (field->arrayCount > 1) {
            if (error) *error = "field " + name + " is a list: give an index, e.g. " + name + "0";
            return std::nullopt;
        }
        return ItemBinding{field, 0};
    }
    std::string base = name;
    std::string digits;
    if (!base.empty() && base.back() == ']') {
        const auto bracket = base.find('[');
        if (bracket != std::string::npos) {
            digits = base.substr(bracket + 1, base.size() - bracket - 2);
            base = base.substr(0, bracket);
        }
    } else {
        while (!base.empty() && std::isdigit(static_cast<unsigned char>(base.back()))) {
            digits.insert(digits.begin(), base.back());
            base.pop_back();
        }
    }
    const rsc::Field* field = findField(base);
    long index = 0;
    if (!field || digits.empty() || !parseLong(digits, &index)) {
        if (error) *error = "the record has no field " + name;
        return std::nullopt;
    }
    if (index < 0 || index >= std::max(1, field->arrayCount)) {
        if (error)
            *error =
                "index " + digits + " is outside field " + base + " (0-" + std::to_string(field->arrayCount - 1) + ")";
        return std::nullopt;
    }
    return ItemBinding{field, static_cast<int>(index)};
}

bool storeTyped(const ItemBinding& binding, const std::string& value, std::string* error) {
    long l = 0;
    double d = 0;
    unsigned char rgb[3];
    bool good = true;
    switch (binding.field->kind) {
    case rsc::FieldKind::Int32:
        good = parseLong(value, &l);
        break;
    case rsc::FieldKind::Double:
        good = parseDouble(value, &d);
        break;
    case rsc::FieldKind::Rgb:
        good = parseRgb(value, rgb);
        break;
    case rsc::FieldKind::Text:
        good = value.size() < elementSize(*binding.field);
        break;
    }
    if (!good) {
        if (error) {
            const char* wanted = binding.field->kind == rsc::FieldKind::Int32    ? "a whole number"
                                 : binding.field->kind == rsc::FieldKind::Double ? "a number"
                                 : binding.field->kind == rsc::FieldKind::Rgb    ? "R,G,B with 0-255"
                                                                                 : "a shorter text";
            *error = std::string("field ") + binding.field->name + " needs " + wanted + ", not \"" + value + "\"";
        }
        return false;
    }
    MSValueDescr descr;
    descr.kind = MSValueDescr::String;
    return storeToBinding(binding, descr, widen(value));
}

nlohmann::json dumpSettings() {
    nlohmann::json event{{"event", "settings"}};
    const auto& record = host().app.record;
    if (!record) {
        event["error"] = "no record is published";
        recordEvent(event);
        return event;
    }
    event["record"] = record->varName;
    nlohmann::json fields = nlohmann::json::object();
    for (const auto& field : record->type->fields) {
        if (!field.name) continue;
        if (field.arrayCount > 1) {
            nlohmann::json list = nlohmann::json::array();
            for (int i = 0; i < field.arrayCount; ++i) list.push_back(fieldJson(ItemBinding{&field, i}));
            fields[field.name] = std::move(list);
        } else {
            fields[field.name] = fieldJson(ItemBinding{&field, 0});
        }
    }
    event["fields"] = std::move(fields);
    recordEvent(event);
    return event;
}

}  // namespace subhost
