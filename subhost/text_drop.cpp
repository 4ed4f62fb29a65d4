// Dropping elements to simpler geometry through the host's element handles: a
// handle looks at or owns a descriptor, every displayed kind has a display
// handler, and a drop with the text option turns text into glyph outlines.
#include <array>
#include <memory>

#include "host/mdlexpand.h"
#include "subhost/expand.h"

using subhost::elements::Element;

namespace {

// The kinds the host displays, each with its display handler.
constexpr std::array<int, 12> kDisplayedTypes{CELL_HEADER_ELM, LINE_ELM,        LINE_STRING_ELM, SHAPE_ELM,
                                              TEXT_NODE_ELM,   ELLIPSE_ELM,     ARC_ELM,         TEXT_ELM,
                                              DIMENSION_ELM,   SHARED_CELL_ELM, MULTILINE_ELM,   RASTER_FRAME_ELM};

// Module state: the display handlers, one per displayed kind, owned by the host for the process.
struct DropState {
    std::array<DisplayHandler, kDisplayedTypes.size()> handlers;
    DropState() {
        for (std::size_t i = 0; i < handlers.size(); ++i) handlers[i].m_type = kDisplayedTypes[i];
    }
};

DropState& dropState() {
    static DropState state;
    return state;
}

// Frees an owned descriptor with the chain after it.
void release(const MSElementDescr* descriptor) {
    std::unique_ptr<MSElementDescr> owned(const_cast<MSElementDescr*>(descriptor));
}

}  // namespace

DisplayHandler* Handler::GetDisplayHandler() const {
    for (DisplayHandler& h : dropState().handlers)
        if (h.m_type == m_type) return &h;
    return nullptr;
}

ElementHandle::ElementHandle(const MSElementDescr* descriptor, DgnModelRefP model)
    : m_descriptor(descriptor), m_model(model) {
    m_handler.m_type = descriptor ? descriptor->type : 0;
}

ElementHandle::ElementHandle(ElementHandle&& other) noexcept
    : m_descriptor(other.m_descriptor), m_model(other.m_model), m_owned(other.m_owned), m_handler(other.m_handler) {
    other.m_descriptor = nullptr;
    other.m_owned = false;
    other.m_handler.m_type = 0;
}

ElementHandle& ElementHandle::operator=(ElementHandle&& other) noexcept {
    if (this == &other) return *this;
    if (m_owned) release(m_descriptor);
    m_descriptor = other.m_descriptor;
    m_model = other.m_model;
    m_owned = other.m_owned;
    m_handler = other.m_handler;
    other.m_descriptor = nullptr;
    other.m_owned = false;
    other.m_handler.m_type = 0;
    return *this;
}

ElementHandle::~ElementHandle() {
    if (m_owned) release(m_descriptor);
}

ElementHandle ElementHandle::Owning(MSElementDescr* descriptor) {
    ElementHandle handle(descriptor, nullptr);
    handle.m_owned = descriptor != nullptr;
    return handle;
}

int DisplayHandler::Drop(const ElementHandle& element, ElementAgenda& agenda, const DropGeometry& geometry) {
    const MSElementDescr* d = element.GetElementDescrCP();
    if (!d || !(geometry.GetOptions() & DropGeometry::DROP_OPTION_Text)) return ERROR;
    if (d->type != TEXT_ELM && d->type != TEXT_NODE_ELM) return ERROR;
    std::vector<Element> shapes;
    std::string note;
    if (!subhost::elements::textGeometry(*d, &shapes, &note)) return ERROR;
    for (Element& s : shapes)
        agenda.Insert(ElementHandle::Owning(std::make_unique<MSElementDescr>(std::move(s)).release()));
    return SUCCESS;
}
