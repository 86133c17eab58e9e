// A thread beside a test that is joined on every path out of its scope: a
// test that fails and returns early first releases what the thread waits for
// (a flag, a held request), so that the failure is reported instead of a
// joinable thread ending the program.
#pragma once

#include <functional>
#include <thread>
#include <utility>

namespace kvtest {

class JoiningThread {
public:
    // Runs f; release, if given, is what ends f's wait when the scope is left
    // before join().
    explicit JoiningThread(std::function<void()> f, std::function<void()> release = {})
        : _fnRelease(std::move(release)), _t(std::move(f))
    {
    }
    ~JoiningThread()
    {
        if (!_t.joinable())
            return;
        if (_fnRelease)
            _fnRelease();
        _t.join();
    }
    JoiningThread(const JoiningThread&) = delete;
    JoiningThread& operator=(const JoiningThread&) = delete;

    // The test's own join, once it has released the thread itself.
    void join()
    {
        if (_t.joinable())
            _t.join();
    }

private:
    std::function<void()> _fnRelease;
    std::thread _t;
};

}  // namespace kvtest
