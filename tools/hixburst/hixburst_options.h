// The command line of the burst-counter demo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hixburst {

// One parameter as the library takes it: an int (TRM's letter among them) or
// a double.
struct ParamValue {
    std::string sgName;
    bool fDouble = false;
    int n = 0;
    double rd = 0.0;
};

enum class FaultKind { None, Unplug, Error, Model, Overflow };

struct Options {
    std::vector<ParamValue> params;  // the five parameters first, then any other name given
    uint64_t input0Hz = 500000;      // 0: no signal
    uint64_t input1Hz = 0;
    int cBursts = 1;
    bool fSim = false;
    FaultKind eFault = FaultKind::None;
    std::string sgDriver;  // the driver module; empty: the one built with the demo
    bool fHelp = false;
};

// Parses the arguments (without the program name). False with a message for
// anything it does not take.
bool parseOptions(const std::vector<std::string>& args, Options* popt, std::string* psgError);

// "T1=0 T2=0.0005 TRM=s CTM=1 CCH=1"
std::string paramText(const std::vector<ParamValue>& params);

extern const char* const szUsage;

}  // namespace hixburst
