#include "hixburst_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>

namespace hixburst {

const char* const szUsage =
    "usage: hixburst [options]\n"
    "  --param NAME=VALUE  set a parameter: T1, T2 (seconds), TRM (s or b), CTM (0 continuous,\n"
    "                      1 single), CCH (1 or 2 channels); a value with '.' or an exponent\n"
    "                      is a double, else an int (repeatable)\n"
    "  --input0 HZ         pulse rate of the input signal of channel 0 (default 500000, 0: none)\n"
    "  --input1 HZ         pulse rate of the input signal of channel 1 (default none)\n"
    "  --bursts N          number of bursts (default 1)\n"
    "  --sim               open with the simulation flag: the board's signal simulator is set up too\n"
    "  --fault NAME        unplug (the board goes away during the first burst), error (the\n"
    "                      board answers its open with an error), model (the board reports\n"
    "                      another model), overflow (the board's FIFO words read all ones)\n"
    "  --driver PATH       the kavorqir module to load (default: the one built with this program)\n"
    "  --help              this text\n";

namespace {

const char* const mpszNames[] = {"T1", "T2", "TRM", "CTM", "CCH"};

std::vector<ParamValue> defaults()
{
    std::vector<ParamValue> v(5);
    for (int i = 0; i < 5; ++i)
        v[i].sgName = mpszNames[i];
    v[0].fDouble = true;
    v[0].rd = 0.0;
    v[1].fDouble = true;
    v[1].rd = 0.0005;
    v[2].n = 's';
    v[3].n = 1;
    v[4].n = 1;
    return v;
}

bool parseInt(const std::string& sg, long lMin, long lMax, long* pl)
{
    if (sg.empty())
        return false;
    errno = 0;
    char* pchEnd = nullptr;
    long l = std::strtol(sg.c_str(), &pchEnd, 10);
    if (errno != 0 || *pchEnd != '\0' || l < lMin || l > lMax)
        return false;
    *pl = l;
    return true;
}

bool parseValue(const std::string& sgName, const std::string& sgValue, ParamValue* ppv)
{
    ppv->sgName = sgName;
    if (sgName == "TRM") {
        if (sgValue.size() != 1)
            return false;
        ppv->fDouble = false;
        ppv->n = static_cast<unsigned char>(sgValue[0]);
        return true;
    }
    if (sgValue.find_first_of(".eE") != std::string::npos) {
        errno = 0;
        char* pchEnd = nullptr;
        double rd = std::strtod(sgValue.c_str(), &pchEnd);
        if (sgValue.empty() || errno != 0 || *pchEnd != '\0')
            return false;
        ppv->fDouble = true;
        ppv->rd = rd;
        return true;
    }
    long l = 0;
    if (!parseInt(sgValue, INT_MIN, INT_MAX, &l))
        return false;
    ppv->fDouble = false;
    ppv->n = static_cast<int>(l);
    return true;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options* popt, std::string* psgError)
{
    Options opt;
    opt.params = defaults();
    for (size_t i = 0; i < args.size(); ++i) {
        std::string sgOpt = args[i], sgArg;
        bool fInline = false;
        size_t iEq = sgOpt.find('=');
        if (sgOpt.rfind("--", 0) == 0 && iEq != std::string::npos) {
            sgArg = sgOpt.substr(iEq + 1);
            sgOpt = sgOpt.substr(0, iEq);
            fInline = true;
        }
        auto arg = [&](std::string* psg) {
            if (fInline) {
                *psg = sgArg;
                return true;
            }
            if (i + 1 >= args.size()) {
                *psgError = sgOpt + " needs a value";
                return false;
            }
            *psg = args[++i];
            return true;
        };
        std::string sg;
        if (sgOpt == "--help") {
            opt.fHelp = true;
        } else if (sgOpt == "--sim") {
            opt.fSim = true;
        } else if (sgOpt == "--param") {
            if (!arg(&sg))
                return false;
            size_t iSep = sg.find('=');
            ParamValue pv;
            if (iSep == std::string::npos || iSep == 0 || !parseValue(sg.substr(0, iSep), sg.substr(iSep + 1), &pv)) {
                *psgError = "bad --param '" + sg + "': expected NAME=VALUE (a number, or a letter for TRM)";
                return false;
            }
            bool fKnown = false;
            for (ParamValue& p : opt.params)
                if (p.sgName == pv.sgName) {
                    p = pv;
                    fKnown = true;
                }
            if (!fKnown)
                opt.params.push_back(pv);  // the library answers for names it does not know
        } else if (sgOpt == "--input0" || sgOpt == "--input1") {
            long l = 0;
            if (!arg(&sg))
                return false;
            if (!parseInt(sg, 0, 30000000, &l)) {
                *psgError = "bad " + sgOpt + " '" + sg + "': expected a rate in Hz from 0 to 30000000";
                return false;
            }
            (sgOpt == "--input0" ? opt.input0Hz : opt.input1Hz) = static_cast<uint64_t>(l);
        } else if (sgOpt == "--bursts") {
            long l = 0;
            if (!arg(&sg))
                return false;
            if (!parseInt(sg, 1, 1000000, &l)) {
                *psgError = "bad --bursts '" + sg + "': expected a number from 1 to 1000000";
                return false;
            }
            opt.cBursts = static_cast<int>(l);
        } else if (sgOpt == "--fault") {
            if (!arg(&sg))
                return false;
            if (sg == "unplug")
                opt.eFault = FaultKind::Unplug;
            else if (sg == "error")
                opt.eFault = FaultKind::Error;
            else if (sg == "model")
                opt.eFault = FaultKind::Model;
            else if (sg == "overflow")
                opt.eFault = FaultKind::Overflow;
            else {
                *psgError = "bad --fault '" + sg + "': expected unplug, error, model or overflow";
                return false;
            }
        } else if (sgOpt == "--driver") {
            if (!arg(&sg))
                return false;
            if (sg.empty()) {
                *psgError = "bad --driver '': expected the path of a driver module";
                return false;
            }
            // A path without a folder names a file here, not a library the
            // loader would search for.
            opt.sgDriver = sg.find('/') == std::string::npos ? "./" + sg : sg;
        } else {
            *psgError = "unknown option '" + args[i] + "'";
            return false;
        }
        if (fInline && (sgOpt == "--help" || sgOpt == "--sim")) {
            *psgError = sgOpt + " takes no value";
            return false;
        }
    }
    *popt = opt;
    return true;
}

std::string paramText(const std::vector<ParamValue>& params)
{
    std::ostringstream os;
    for (size_t i = 0; i < params.size(); ++i) {
        const ParamValue& p = params[i];
        os << (i ? " " : "") << p.sgName << '=';
        if (p.fDouble)
            os << p.rd;
        else if (p.sgName == "TRM" && p.n > 32 && p.n < 127)
            os << static_cast<char>(p.n);
        else
            os << p.n;
    }
    return os.str();
}

}  // namespace hixburst
