// The server side of the dino open: the port map of a board and the step
// that answers an open from it.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "dinoexport.h"
#include "yek_task.h"

namespace KVdepDino100 {

// Port name (compared exactly) to image byte index and bit mask.
typedef std::map<std::string, std::pair<int, int>> MpSgBi;

// Answers a DinoOpen on the client channel with a DinoOpenResp that locates
// the named port in the images (byte and mask 0 for a name not in the map).
// It never uses the board.
class DINO_API DinoOpenServerFunc : public KVdepYek100::TaskFunc::Func {
public:
    explicit DinoOpenServerFunc(const MpSgBi& mp) : _mp(mp), _ic(mp.end()) {}
    int func(int e) override;
    ~DinoOpenServerFunc() override;

    static int cnClient() { return 0; }

    const MpSgBi& _mp;
    MpSgBi::const_iterator _ic;
};

}  // namespace KVdepDino100
