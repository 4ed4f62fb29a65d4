// What elements the host shows: element display (dynamics remember what they
// drew last), transients kept until erased, and the dumps of both and of the
// model's elements. Also the scale item information dialogs set.
#include <algorithm>

#include "subhost/elements.h"
#include "subhost/state.h"

namespace subhost::elements {
namespace {

nlohmann::json shapesJson(const std::vector<Shape>& shapes) {
    nlohmann::json list = nlohmann::json::array();
    for (const Shape& s : shapes) list.push_back(shapeJson(s));
    return list;
}

// The item instance whose DialogItem or raw header is item; null when no open dialog has it.
ItemInstance* findItem(const void* item, int* dialogId) {
    auto& dialogs = host().dialogs;
    auto search = [&](const MSDialog* db) -> ItemInstance* {
        if (!db || !item) return nullptr;
        for (const auto& it : db->items)
            if (&it->item == item || it->item.rawItemP == item) {
                *dialogId = db->id;
                return it.get();
            }
        return nullptr;
    };
    if (ItemInstance* found = search(dialogs.toolSettings.get())) return found;
    for (const auto& db : dialogs.dialogs)
        if (ItemInstance* found = search(db.get())) return found;
    return nullptr;
}

}  // namespace

void beginDynamics() {
    ElementState& st = elementState();
    st.dynamics.clear();
    st.dynamicsOpen = true;
}

void endDynamics() { elementState().dynamicsOpen = false; }

nlohmann::json dumpDynamics() {
    nlohmann::json event = {{"event", "dynamics"}, {"elements", shapesJson(elementState().dynamics)}};
    recordEvent(event);
    return event;
}

nlohmann::json dumpElements() {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& [pos, element] : elementState().elements) {
        nlohmann::json j = shapeJson(element.shape);
        j["id"] = element.id;
        j["filePos"] = pos;
        list.push_back(std::move(j));
    }
    nlohmann::json event = {{"event", "elements"}, {"elements", std::move(list)}};
    recordEvent(event);
    return event;
}

}  // namespace subhost::elements

using namespace subhost;
using namespace subhost::elements;

extern "C" {

int mdlElement_display(const MSElement* element, int drawMode) {
    if (!element || !validRecord(*element)) return ERROR;
    ElementState& st = elementState();
    const Shape shape = fromRecord(*element);
    if (drawMode == DRAW_MODE_TempDraw) {
        // Temporary drawing of dynamics: what the running dynamics call draws
        // replaces what the one before drew; not a transcript event each time.
        if (!st.dynamicsOpen) st.dynamics.clear();
        st.dynamics.push_back(shape);
        return SUCCESS;
    }
    recordEvent({{"event", "display"}, {"drawMode", drawMode}, {"element", shapeJson(shape)}});
    return SUCCESS;
}

TransDescr* mdlTransient_addElement(TransDescr* transient, const MSElement* element, int viewMask, int drawMode) {
    if (!element || !validRecord(*element)) return transient;
    ElementState& st = elementState();
    const auto owned =
        std::find_if(st.transients.begin(), st.transients.end(), [&](const auto& t) { return t.get() == transient; });
    TransDescr* target = owned == st.transients.end() ? nullptr : owned->get();
    if (!target) {
        auto made = std::make_unique<TransDescr>();
        made->id = st.nextTransientId++;
        target = made.get();
        st.transients.push_back(std::move(made));
    }
    const Shape shape = fromRecord(*element);
    target->shapes.push_back(shape);
    target->viewMask = viewMask;
    target->drawMode = drawMode;
    target->shown = true;
    recordEvent({{"event", "transient"},
                 {"action", "added"},
                 {"id", target->id},
                 {"viewMask", viewMask},
                 {"drawMode", drawMode},
                 {"element", shapeJson(shape)}});
    return target;
}

void mdlTransient_eraseDisplay(TransDescr* transient) {
    ElementState& st = elementState();
    for (const auto& t : st.transients)
        if (t.get() == transient && t->shown) {
            t->shown = false;
            recordEvent({{"event", "transient"}, {"action", "erased"}, {"id", t->id}});
        }
}

void mdlTransient_free(TransDescr** transient) {
    if (!transient || !*transient) return;
    ElementState& st = elementState();
    const auto it =
        std::find_if(st.transients.begin(), st.transients.end(), [&](const auto& t) { return t.get() == *transient; });
    if (it != st.transients.end()) {
        recordEvent({{"event", "transient"}, {"action", "freed"}, {"id", (*it)->id}});
        st.transients.erase(it);
    }
    *transient = nullptr;
}

int mdlDialog_scaleSetInfo(void* item, double maximum, WCharCP label) {
    int dialogId = 0;
    ItemInstance* instance = findItem(item, &dialogId);
    if (!instance) return ERROR;
    instance->scaleMaximum = maximum;
    instance->scaleLabel = label ? label : L"";
    recordEvent({{"event", "scaleInfo"},
                 {"dialog", dialogId},
                 {"item", instance->item.id},
                 {"maximum", maximum},
                 {"label", utf8(instance->scaleLabel)}});
    return SUCCESS;
}

}  // extern "C"
