// A tiny application for testing the host: its own resources, record, hooks and
// commands, each of which writes what it saw into a log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/mdlresource.h"
#include "host/mdltypes.h"

namespace testapp {

struct Record {
    std::int32_t Number = 0;
    double Ratio = 0;
    std::int32_t Flag = 0;
    std::int32_t Mode = 0;
    char Name[8] = {};
    std::int32_t Values[4] = {};
    std::uint8_t Color[3] = {};
};

// Command numbers of the test table.
constexpr CommandNumber kAlphaOne = 0x0101000000000000ULL;
constexpr CommandNumber kAlphaOther = 0x0102000000000000ULL;
constexpr CommandNumber kAlphaTwo = 0x0103000000000000ULL;
constexpr CommandNumber kAlpine = 0x0200000000000000ULL;
constexpr CommandNumber kBeta = 0x0300000000000000ULL;
constexpr CommandNumber kQueueing = 0x0400000000000000ULL;
constexpr CommandNumber kTool = 0x0500000000000000ULL;
constexpr CommandNumber kUnloadMe = 0x0600000000000000ULL;
constexpr CommandNumber kAsk = 0x0700000000000000ULL;

struct State {
    std::vector<std::string> log;
    Record record;
    int unloadAnswer = 0;              // what the unload function returns
    bool abortAction = false;          // the dialog hook keeps the dialog open on an action button
    std::string valueAtJustify;        // item text seen at message 59
    std::int32_t numberAtJustify = 0;  // record value seen at message 59
};

State& state();
// Fresh state for a test.
void reset();
int mdlMain(int argc, WCharCP argv[]);
const rsc::File* resources();

}  // namespace testapp
