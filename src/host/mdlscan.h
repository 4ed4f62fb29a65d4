// Scanning a model's elements in file order by type, range and view, and
// iterating the active model with its references.
#pragma once

#include <cstdint>

#include "host/mdltypes.h"

struct ScanCriteria;
struct ModelRefIterator;

// A scan range in the host's whole units (1000 to a design unit), low corner then high corner.
struct ScanRange {
    std::int64_t xlowlim, ylowlim, zlowlim;
    std::int64_t xhighlim, yhighlim, zhighlim;
};

// What a scan gives back.
constexpr int MSSCANCRIT_RETURN_FILEPOS = 1;
// Statuses of mdlScanCriteria_scan: the buffer holds elements and more may follow; nothing is left.
constexpr int BUFF_FULL = 11;
constexpr int END_OF_DGNFILE = 10;

// Model iteration: the model itself, and its references.
constexpr int MRITERATE_Root = 1;
constexpr int MRITERATE_PrimaryChildRefs = 2;

extern "C" {

// A new scan of the active model that accepts every element; null when out of memory.
ScanCriteria* mdlScanCriteria_create();
// Frees the criteria and sets *criteria to null.
void mdlScanCriteria_free(ScanCriteria** criteria);
// What the scan gives (MSSCANCRIT_RETURN_FILEPOS) and whether one element a call (1); 0 on success.
int mdlScanCriteria_setReturnType(ScanCriteria* criteria, int returnType, int oneElementOnly, int nestCells);
// Scans model from its first element; 0 on success.
int mdlScanCriteria_setModel(ScanCriteria* criteria, DgnModelRefP model);
// Keeps only elements whose range overlaps range; 0 on success.
int mdlScanCriteria_setRangeTest(ScanCriteria* criteria, const ScanRange* range);
// Keeps only elements shown in view (their level on there) of model; 0 on success.
int mdlScanCriteria_setViewTest(ScanCriteria* criteria, int view, DgnModelRefP model);
// Keeps only drawn (graphic) elements; 0 on success.
int mdlScanCriteria_setDrawnElements(ScanCriteria* criteria);
// Finds the next elements in file order from where the last call stopped: their file positions into buffer
// (*bufferSize entries at most, one with oneElementOnly; *bufferSize becomes the count), *filePos the
// position to go on from. BUFF_FULL when at least one was found, END_OF_DGNFILE when none is left, ERROR
// on bad arguments.
int mdlScanCriteria_scan(ScanCriteria* criteria, std::uint32_t* buffer, int* bufferSize, std::uint32_t* filePos);
// range in design coordinates as a scan range (low corners rounded down, high up, within 64 bits).
void mdlCnv_dRange3dToScanRange(ScanRange* scanRange, const DRange3d* range);

// An iterator over model (MRITERATE_Root) and its references (MRITERATE_PrimaryChildRefs), references to
// depth levels below (0: the direct ones); 0 on success.
int mdlModelRefIterator_create(ModelRefIterator** iterator, DgnModelRefP model, int flags, int depth);
// The next model of the iteration, null at the end.
DgnModelRefP mdlModelRefIterator_getNext(ModelRefIterator* iterator);
// Frees the iterator and sets *iterator to null.
void mdlModelRefIterator_free(ModelRefIterator** iterator);
}
