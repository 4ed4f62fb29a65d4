// The host's expansion of element kinds to the simple geometry they show as:
// area patterns, dimensions, shared cells, multi-lines, custom line styles and
// text dropped to its glyph outlines.
#pragma once

#include <cstddef>
#include <vector>

#include "host/mdltypes.h"

struct MSElementDescr;

extern "C" {

// The hatch lines of element's area pattern, clipped to the area and its holes, as a chain; 0 on success,
// ERROR when the element has no pattern (or it gives no line).
int mdlPattern_getElementDescr(MSElementDescr** pattern, const MSElementDescr* element, DgnModelRefP model, int view,
                               int option);
// A dimension's geometry: extension lines, the dimension line, filled arrowheads and the text; 0 on success.
int mdlDim_getElementDescr(MSElementDescr** result, const MSElementDescr* dimension, DgnModelRefP model, int option);
// A shared cell instance as a normal cell with its definition's components placed (scaled, turned, moved);
// 0 on success, ERROR when model has no such definition.
int mdlSharedCell_toNormalCell(MSElementDescr** cell, const MSElementDescr* instance, DgnModelRefP model);
// A multi-line's offset lines (each in its own symbology) and end caps as a chain; 0 on success.
int mdlMline_getElementDescr(MSElementDescr** result, const MSElementDescr* multiLine, DgnModelRefP model, int option);
// The dash geometry of an element drawn in a custom line code that model defines; 0 on success, ERROR
// for codes 0-7, undefined codes and elements that are not linear.
int mdlLineStyle_getElementDescr(MSElementDescr** result, const MSElementDescr* element, DgnModelRefP model,
                                 int option);
}

// ---- Dropping elements to geometry ----

class ElementHandle;
class DisplayHandler;

// What a drop makes of an element (DROP_OPTION_Text: text to its glyph outlines).
class DropGeometry {
public:
    static constexpr int DROP_OPTION_Text = 1;
    // Sets the options (DROP_OPTION_*).
    void SetOptions(int options) { m_options = options; }
    // The options.
    int GetOptions() const { return m_options; }

private:
    int m_options = 0;
};

// The kind-specific services of an element.
class Handler {
public:
    // The display handler of the element's kind, null for a kind that is not displayed.
    DisplayHandler* GetDisplayHandler() const;
    int m_type = 0;
};

// One element: a descriptor it only looks at, or one it owns (the elements of an agenda).
class ElementHandle {
public:
    // Looks at descriptor (not owned) of model (may be null).
    ElementHandle(const MSElementDescr* descriptor, DgnModelRefP model);
    ElementHandle(ElementHandle&& other) noexcept;
    ElementHandle& operator=(ElementHandle&& other) noexcept;
    ElementHandle(const ElementHandle&) = delete;
    ElementHandle& operator=(const ElementHandle&) = delete;
    ~ElementHandle();
    // Takes ownership of descriptor (freed with the handle).
    static ElementHandle Owning(MSElementDescr* descriptor);
    // The handler of the element's kind.
    const Handler& GetHandler() const { return m_handler; }
    // The descriptor, null for an empty handle.
    const MSElementDescr* GetElementDescrCP() const { return m_descriptor; }
    DgnModelRefP GetModelRef() const { return m_model; }

private:
    const MSElementDescr* m_descriptor = nullptr;
    DgnModelRefP m_model = nullptr;
    bool m_owned = false;
    Handler m_handler;
};

// A list of elements a drop gives; owns them.
class ElementAgenda {
public:
    // The number of elements.
    std::size_t GetCount() const { return m_elements.size(); }
    // The first element (GetCount() in a row), null when empty.
    ElementHandle* GetFirstP() { return m_elements.empty() ? nullptr : m_elements.data(); }
    // Appends element.
    void Insert(ElementHandle&& element) { m_elements.push_back(std::move(element)); }

private:
    std::vector<ElementHandle> m_elements;
};

// Displays an element kind and drops it to simpler geometry.
class DisplayHandler {
public:
    // Appends the simple elements element drops to under geometry's options to agenda; 0 on success, ERROR
    // when the kind does not drop (or the text has no font to draw with).
    int Drop(const ElementHandle& element, ElementAgenda& agenda, const DropGeometry& geometry);
    int m_type = 0;
};
