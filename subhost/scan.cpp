// Scanning a model's elements in file order (by range, view and kind) and iterating the active model
// with its references.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "host/mdlscan.h"
#include "subhost/elements.h"

using namespace subhost;
using namespace subhost::elements;

// What a scan keeps and where it goes on from.
struct ScanCriteria {
    DgnModelRefP model = nullptr;  // null: the active model when the scan runs
    bool oneElement = false;
    std::optional<ScanRange> range;
    std::optional<int> view;
    bool drawnOnly = false;
    std::uint32_t next = 0;  // file position the next call starts at
};

// The models an iteration visits, in order.
struct ModelRefIterator {
    std::vector<DgnModelRefP> models;
    std::size_t next = 0;
};

namespace {

// One coordinate in scan units: 1000 to a design unit, rounded down (low) or up (high), within 64 bits.
std::int64_t scanUnits(double value, bool high) {
    constexpr double kLimit = 9.2e18;  // below 2^63, exactly representable as a double
    if (std::isnan(value))
        return high ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    const double v = high ? std::ceil(value * 1000.0) : std::floor(value * 1000.0);
    if (v >= kLimit) return std::numeric_limits<std::int64_t>::max();
    if (v <= -kLimit) return std::numeric_limits<std::int64_t>::min();
    return std::int64_t(v);
}

bool overlaps(const ScanRange& a, const ScanRange& b) {
    return a.xlowlim <= b.xhighlim && b.xlowlim <= a.xhighlim && a.ylowlim <= b.yhighlim && b.ylowlim <= a.yhighlim &&
           a.zlowlim <= b.zhighlim && b.zlowlim <= a.zhighlim;
}

// True for the kinds that are drawn (every kind a design holds is graphic).
bool drawn(int type) {
    switch (type) {
    case CELL_HEADER_ELM:
    case TEXT_NODE_ELM:
    case TEXT_ELM:
    case DIMENSION_ELM:
    case SHARED_CELL_ELM:
    case MULTILINE_ELM:
    case RASTER_FRAME_ELM:
        return true;
    default:
        return isSimple(type);
    }
}

// True when the element passes every test of criteria.
bool accepted(const ScanCriteria& criteria, const DesignElement& element, const Definitions& definitions) {
    if (criteria.drawnOnly && !drawn(element.shape.type)) return false;
    if (criteria.view && !shownInView(element.shape, *criteria.view)) return false;
    if (criteria.range) {
        const DRange3d& r = elementRangeOf(element, definitions);
        if (r.low.x > r.high.x) return false;  // shows nothing: lies nowhere
        ScanRange own;
        mdlCnv_dRange3dToScanRange(&own, &r);
        if (!overlaps(own, *criteria.range)) return false;
    }
    return true;
}

DgnModelRefP activeModel() { return &host().design.model; }

}  // namespace

extern "C" {

ScanCriteria* mdlScanCriteria_create() { return std::make_unique<ScanCriteria>().release(); }

void mdlScanCriteria_free(ScanCriteria** criteria) {
    if (!criteria) return;
    std::unique_ptr<ScanCriteria> owned(*criteria);
    *criteria = nullptr;
}

int mdlScanCriteria_setReturnType(ScanCriteria* criteria, int returnType, int oneElementOnly, int /*nestCells*/) {
    if (!criteria || returnType != MSSCANCRIT_RETURN_FILEPOS) return ERROR;
    criteria->oneElement = oneElementOnly != 0;
    return SUCCESS;
}

int mdlScanCriteria_setModel(ScanCriteria* criteria, DgnModelRefP model) {
    if (!criteria || !model || !elementsOf(model)) return ERROR;
    criteria->model = model;
    criteria->next = 0;
    return SUCCESS;
}

int mdlScanCriteria_setRangeTest(ScanCriteria* criteria, const ScanRange* range) {
    if (!criteria) return ERROR;
    if (range)
        criteria->range = *range;
    else
        criteria->range.reset();
    return SUCCESS;
}

int mdlScanCriteria_setViewTest(ScanCriteria* criteria, int view, DgnModelRefP /*model*/) {
    if (!criteria || view < 0 || view > 7) return ERROR;
    criteria->view = view;
    return SUCCESS;
}

int mdlScanCriteria_setDrawnElements(ScanCriteria* criteria) {
    if (!criteria) return ERROR;
    criteria->drawnOnly = true;
    return SUCCESS;
}

int mdlScanCriteria_scan(ScanCriteria* criteria, std::uint32_t* buffer, int* bufferSize, std::uint32_t* filePos) {
    if (!criteria || !buffer || !bufferSize || *bufferSize < 1) return ERROR;
    const DgnModelRefP model = criteria->model ? criteria->model : activeModel();
    const auto* elements = elementsOf(model);
    if (!elements) return ERROR;
    const Definitions& definitions = definitionsOf(model);
    const int room = criteria->oneElement ? 1 : *bufferSize;
    int found = 0;
    auto it = elements->lower_bound(criteria->next);
    for (; it != elements->end() && found < room; ++it)
        if (accepted(*criteria, it->second, definitions)) {
            buffer[found++] = it->first;
            criteria->next = it->first + 1;
        }
    // Nothing found: the scan has passed every element there is.
    if (found == 0 && !elements->empty()) criteria->next = std::max(criteria->next, elements->rbegin()->first + 1);
    *bufferSize = found;
    if (filePos) *filePos = criteria->next;
    return found > 0 ? BUFF_FULL : END_OF_DGNFILE;
}

void mdlCnv_dRange3dToScanRange(ScanRange* scanRange, const DRange3d* range) {
    if (!scanRange || !range) return;
    *scanRange =
        ScanRange{scanUnits(range->low.x, false), scanUnits(range->low.y, false), scanUnits(range->low.z, false),
                  scanUnits(range->high.x, true), scanUnits(range->high.y, true), scanUnits(range->high.z, true)};
}

int mdlModelRefIterator_create(ModelRefIterator** iterator, DgnModelRefP model, int flags, int /*depth*/) {
    if (!iterator) return ERROR;
    *iterator = nullptr;
    if (!model || !elementsOf(model)) return ERROR;
    auto made = std::make_unique<ModelRefIterator>();
    if (flags & MRITERATE_Root) made->models.push_back(model);
    // References of references are not attached: only the active model has any.
    if ((flags & MRITERATE_PrimaryChildRefs) && model == activeModel())
        for (const auto& r : elementState().references) made->models.push_back(&r->model);
    *iterator = made.release();
    return SUCCESS;
}

DgnModelRefP mdlModelRefIterator_getNext(ModelRefIterator* iterator) {
    if (!iterator || iterator->next >= iterator->models.size()) return nullptr;
    return iterator->models[iterator->next++];
}

void mdlModelRefIterator_free(ModelRefIterator** iterator) {
    if (!iterator) return;
    std::unique_ptr<ModelRefIterator> owned(*iterator);
    *iterator = nullptr;
}

}  // extern "C"
