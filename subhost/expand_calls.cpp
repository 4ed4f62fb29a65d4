// The expansion calls the application makes: patterns, dimensions, shared
// cells, multi-lines and custom line styles as descriptor chains.
#include "host/mdlexpand.h"
#include "subhost/elements.h"
#include "subhost/expand.h"

using namespace subhost::elements;

namespace {

// Hands the parts made to *result as a chain; ERROR (nothing handed) when there are none.
int handOver(MSElementDescr** result, std::vector<Element> parts) {
    if (parts.empty()) return ERROR;
    *result = chainOf(std::move(parts)).release();
    return SUCCESS;
}

// Clears *result and checks that element is of kind type (any kind for 0).
bool start(MSElementDescr** result, const MSElementDescr* element, int type) {
    if (!result) return false;
    *result = nullptr;
    return element && (type == 0 || element->type == type);
}

}  // namespace

extern "C" {

int mdlPattern_getElementDescr(MSElementDescr** pattern, const MSElementDescr* element, DgnModelRefP /*model*/,
                               int /*view*/, int /*option*/) {
    std::vector<Element> parts;
    if (!start(pattern, element, 0) || !patternGeometry(*element, &parts)) return ERROR;
    return handOver(pattern, std::move(parts));
}

int mdlDim_getElementDescr(MSElementDescr** result, const MSElementDescr* dimension, DgnModelRefP /*model*/,
                           int /*option*/) {
    std::vector<Element> parts;
    if (!start(result, dimension, DIMENSION_ELM) || !dimensionGeometry(*dimension, &parts)) return ERROR;
    return handOver(result, std::move(parts));
}

int mdlSharedCell_toNormalCell(MSElementDescr** cell, const MSElementDescr* instance, DgnModelRefP model) {
    Element made;
    if (!start(cell, instance, SHARED_CELL_ELM) || !sharedCellToCell(*instance, definitionsOf(model), &made, nullptr))
        return ERROR;
    std::vector<Element> one;
    one.push_back(std::move(made));
    return handOver(cell, std::move(one));
}

int mdlMline_getElementDescr(MSElementDescr** result, const MSElementDescr* multiLine, DgnModelRefP /*model*/,
                             int /*option*/) {
    std::vector<Element> parts;
    if (!start(result, multiLine, MULTILINE_ELM) || !multiLineGeometry(*multiLine, &parts)) return ERROR;
    return handOver(result, std::move(parts));
}

int mdlLineStyle_getElementDescr(MSElementDescr** result, const MSElementDescr* element, DgnModelRefP model,
                                 int /*option*/) {
    std::vector<Element> parts;
    if (!start(result, element, 0) || !lineStyleGeometry(*element, definitionsOf(model), &parts)) return ERROR;
    return handOver(result, std::move(parts));
}

}  // extern "C"
