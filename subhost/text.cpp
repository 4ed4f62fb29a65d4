// Text dropped to its glyph outlines.
#include "subhost/expand.h"

namespace subhost::elements {

bool textGeometry(const Element&, std::vector<Element>*, std::string* note) {
    if (note) *note = "text outlines are not drawn yet";
    return false;
}

}  // namespace subhost::elements
