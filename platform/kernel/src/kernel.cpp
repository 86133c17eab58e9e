// The kernel instance, its faults, problems and the calling thread's state.
#include <cstdio>
#include <cstdlib>

#include "kv_clock.h"
#include "state.h"

namespace kstub {
namespace detail {
namespace {

std::atomic<State*> g_pState{nullptr};
std::atomic<unsigned> g_msWatchdog{10000};
thread_local int t_cDriverCall = 0;
thread_local KIRQL t_irql = PASSIVE_LEVEL;
std::mutex g_dispMtx;
std::condition_variable g_dispCv;

}  // namespace

State& cur()
{
    State* ps = g_pState.load();
    if (!ps)
        fatal("no kernel: create a kstub::Kernel first");
    return *ps;
}

State* curOrNull() { return g_pState.load(); }

void problem(const std::string& text)
{
    State& s = cur();
    std::lock_guard<std::mutex> lk(s.miscMtx);
    s.problems.push_back(text);
}

void passHook(Hook point)
{
    State& s = cur();
    std::function<void()> f;
    {
        std::lock_guard<std::mutex> lk(s.hookMtx);
        f = s.hooks[int(point)];
    }
    if (f)
        f();
}

bool takeFault(Fault f, NTSTATUS* pst)
{
    State* ps = curOrNull();
    if (!ps || ps->cFaultsArmed.load(std::memory_order_acquire) == 0)
        return false;
    std::lock_guard<std::mutex> lk(ps->faultMtx);
    FaultKnob& k = ps->faults[int(f)];
    if (k.nth == 0)
        return false;
    if (k.nth > 1) {
        --k.nth;
        return false;
    }
    if (pst)
        *pst = k.st;
    if (k.count == 1) {
        k.nth = 0;
        ps->cFaultsArmed.fetch_sub(1, std::memory_order_release);
    } else if (k.count > 1) {
        --k.count;
    }
    return true;
}

DriverCall::DriverCall() { ++t_cDriverCall; }
DriverCall::~DriverCall() { --t_cDriverCall; }

KIRQL irql() { return t_irql; }
void setIrql(KIRQL k) { t_irql = k; }

std::mutex& dispMtx() { return g_dispMtx; }
std::condition_variable& dispCv() { return g_dispCv; }

void watchdogExpired(const char* what)
{
    fatal(std::string("wait watchdog: ") + what + " did not end within " +
          std::to_string(g_msWatchdog.load()) + " ms");
}

unsigned watchdogMs() { return g_msWatchdog.load(); }
void setWatchdogMs(unsigned ms) { g_msWatchdog.store(ms); }

std::string upper(const std::string& s)
{
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return r;
}

std::string lower(const std::string& s)
{
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return r;
}

std::string narrowUs(PCUNICODE_STRING pus)
{
    if (!pus || !pus->Buffer)
        return std::string();
    return narrow(std::u16string(pus->Buffer, pus->Length / 2));
}

HANDLE newHandle()
{
    State& s = cur();
    uintptr_t h = s.nextHandle;
    s.nextHandle += 4;
    return reinterpret_cast<HANDLE>(h);
}

}  // namespace detail

using namespace detail;

bool inDriverCall() { return t_cDriverCall > 0; }

void fatal(const std::string& text)
{
    std::fprintf(stderr, "kstub: %s\n", text.c_str());
    std::fflush(stderr);
    std::abort();
}

std::u16string widen(const std::string& s)
{
    std::u16string r;
    r.reserve(s.size());
    for (unsigned char c : s)
        r.push_back(char16_t(c));
    return r;
}

std::string narrow(const std::u16string& s)
{
    std::string r;
    r.reserve(s.size());
    for (char16_t c : s)
        r.push_back(c < 0x80 ? char(c) : '?');
    return r;
}

std::string servicePath(const std::string& service)
{
    return "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + service;
}

RegValue RegValue::dword(const std::string& name, uint32_t v)
{
    return RegValue{name, REG_DWORD,
                    {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}};
}

RegValue RegValue::string(const std::string& name, const std::string& v)
{
    RegValue r{name, REG_SZ, {}};
    for (unsigned char c : v) {
        r.data.push_back(c);
        r.data.push_back(0);
    }
    r.data.push_back(0);
    r.data.push_back(0);
    return r;
}

RegValue RegValue::bytes(const std::string& name, ULONG type, std::vector<uint8_t> data)
{
    return RegValue{name, type, std::move(data)};
}

BusDevice::~BusDevice() = default;
void BusDevice::surpriseRemoved(PDEVICE_OBJECT) {}
void BusDevice::deleted(PDEVICE_OBJECT) {}

void createBusDriver(State& s);
void destroyKernelObjects(State& s);

Kernel::Kernel()
    : _ps(new State),
      _registry(*_ps),
      _log(*_ps),
      _pool(*_ps),
      _memory(*_ps),
      _ports(*_ps),
      _pnp(*_ps)
{
    State* pExpected = nullptr;
    if (!g_pState.compare_exchange_strong(pExpected, _ps.get()))
        fatal("a second kstub::Kernel while one exists");
    g_msWatchdog.store(10000);
    const char* sz = std::getenv("KV_DBGPRINT");
    _ps->fEcho = sz && sz[0] == '1';
    _ps->pKernel = this;
    createBusDriver(*_ps);
}

Kernel::~Kernel()
{
    destroyKernelObjects(*_ps);
    g_pState.store(nullptr);
}

Kernel* Kernel::current()
{
    State* ps = curOrNull();
    return ps ? ps->pKernel : nullptr;
}

void Kernel::failNext(Fault f, unsigned nth, NTSTATUS st, unsigned count)
{
    std::lock_guard<std::mutex> lk(_ps->faultMtx);
    FaultKnob& k = _ps->faults[int(f)];
    if (k.nth == 0 && nth != 0)
        _ps->cFaultsArmed.fetch_add(1, std::memory_order_release);
    else if (k.nth != 0 && nth == 0)
        _ps->cFaultsArmed.fetch_sub(1, std::memory_order_release);
    k = FaultKnob{nth, count, st};
}

void Kernel::clearFaults()
{
    std::lock_guard<std::mutex> lk(_ps->faultMtx);
    for (FaultKnob& k : _ps->faults)
        k = FaultKnob{};
    _ps->cFaultsArmed.store(0, std::memory_order_release);
}

std::vector<std::string> Kernel::problems() const
{
    std::lock_guard<std::mutex> lk(_ps->miscMtx);
    std::vector<std::string> r = _ps->problems.kept();
    if (_ps->problems.notKept() > 0)
        r.push_back(std::to_string(_ps->problems.notKept()) + " more problems (texts not kept)");
    return r;
}

std::size_t Kernel::problemCount() const
{
    std::lock_guard<std::mutex> lk(_ps->miscMtx);
    return std::size_t(_ps->problems.total());
}

void Kernel::setLogCapacity(std::size_t n)
{
    {
        std::lock_guard<std::mutex> lk(_ps->logMtx);
        _ps->records.setCapacity(n);
    }
    {
        std::lock_guard<std::mutex> lk(_ps->portMtx);
        _ps->portLog.setCapacity(n);
    }
    {
        std::lock_guard<std::mutex> lk(_ps->timerMtx);
        _ps->delays.setCapacity(n);
    }
    std::lock_guard<std::mutex> lk(_ps->miscMtx);
    _ps->ioLog.setCapacity(n);
}

std::size_t Kernel::logCapacity() const
{
    std::lock_guard<std::mutex> lk(_ps->miscMtx);
    return _ps->ioLog.capacity();
}

std::vector<std::string> Kernel::frameworkBinds() const
{
    std::lock_guard<std::mutex> lk(_ps->miscMtx);
    return _ps->binds;
}

std::vector<IoRecord> Kernel::ioLog() const
{
    std::lock_guard<std::mutex> lk(_ps->miscMtx);
    return _ps->ioLog.toVector();
}

void Kernel::clearIoLog()
{
    std::lock_guard<std::mutex> lk(_ps->miscMtx);
    _ps->ioLog.clear();
}

void Kernel::setWaitWatchdogMs(unsigned ms) { setWatchdogMs(ms); }

void Kernel::setHook(Hook point, std::function<void()> f)
{
    std::lock_guard<std::mutex> lk(_ps->hookMtx);
    _ps->hooks[int(point)] = std::move(f);
}

std::size_t Kernel::irpsOutstanding() const
{
    std::lock_guard<std::mutex> lk(_ps->objMtx);
    return _ps->irps.size();
}

std::size_t Kernel::mdlsOutstanding() const
{
    std::lock_guard<std::mutex> lk(_ps->objMtx);
    return _ps->mdls.size();
}

}  // namespace kstub
