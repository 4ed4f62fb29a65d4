// Dimensions, shared cells, multi-lines, area patterns and custom line styles
// expanded to simple elements.
#include "subhost/expand.h"

namespace subhost::elements {

bool dimensionGeometry(const Element&, std::vector<Element>*) { return false; }

bool sharedCellToCell(const Element& instance, const Definitions& definitions, Element*, std::string* why) {
    if (why) *why = definitions.sharedCells.count(instance.name) ? "not expanded yet" : "no such shared cell";
    return false;
}

bool multiLineGeometry(const Element&, std::vector<Element>*) { return false; }

bool patternGeometry(const Element&, std::vector<Element>*) { return false; }

bool lineStyleGeometry(const Element&, const Definitions&, std::vector<Element>*) { return false; }

}  // namespace subhost::elements
