// A channel with four buffers of each kind and a plexer that record their
// signals, with context numbers and handles, in one shared log.
#pragma once

#include "yek_driver.h"

#include <functional>
#include <string>
#include <vector>

namespace yekc_test {

using namespace KVdepYek100;

struct SignalLog {
    std::vector<std::string> v;
    void add(const std::string& s) { v.push_back(s); }
    std::string take()
    {
        std::string s;
        for (const std::string& e : v)
            s += (s.empty() ? "" : " ") + e;
        v.clear();
        return s;
    }
};

class SpyChannel : public YekChannel {
public:
    explicit SpyChannel(SignalLog* plog, const YekProto* pup = nullptr) : YekChannel(pup), _plog(plog)
    {
        for (int k = 0; k < 4; ++k)
            initPoolDown(_mpmbDown[k] = new YekMsgBuf);
        for (int k = 0; k < 4; ++k)
            initPoolUp(_mpmbUp[k] = new YekMsgBuf);
    }
    ~SpyChannel() override
    {
        finiQueues();
        finiPools();
    }
    void finiPool(Link* pl) override { delete pmbOf(pl); }
    void sigGet(int iCtx) override
    {
        _plog->add("sigGet " + std::to_string(iCtx));
        if (onGet)
            onGet(iCtx);
    }
    void sigPut(int iCtx) override { _plog->add("sigPut " + std::to_string(iCtx)); }

    using YekChannel::pcnYkdDriver;
    using YekChannel::pcnYkdPool;
    using YekChannel::pcnYkdQueue;
    using YekChannel::pcnYkdUser;
    using YekChannel::pcnYkuDriver;
    using YekChannel::pcnYkuPool;
    using YekChannel::pcnYkuQueue;
    using YekChannel::pcnYkuUser;

    SignalLog* _plog;
    YekMsgBuf* _mpmbDown[4];
    YekMsgBuf* _mpmbUp[4];
    std::function<void(int)> onGet;
};

class SpyPlex : public YekPlex {
public:
    explicit SpyPlex(SignalLog* plog) : YekPlex("spy"), _plog(plog) {}
    void sigDown(int iCtx, YekChannel* pcn, int hChan) override
    {
        _plog->add("sigDown " + std::to_string(iCtx) + " h" + std::to_string(hChan));
        if (onDown)
            onDown(iCtx, pcn);
    }
    void sigUp(int iCtx, YekChannel* pcn, int hChan) override
    {
        _plog->add("sigUp " + std::to_string(iCtx) + " h" + std::to_string(hChan));
        if (onUp)
            onUp(iCtx, pcn);
    }

    SignalLog* _plog;
    std::function<void(int, YekChannel*)> onDown;
    std::function<void(int, YekChannel*)> onUp;
};

}  // namespace yekc_test
