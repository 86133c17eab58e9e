// Non-paged pool with accounting and failure injection.
#include <cstdlib>
#include <sstream>

#include "state.h"

namespace kstub {
namespace detail {

void* poolAlloc(std::size_t cb, ULONG tag, bool fZero, bool fCanFail)
{
    State& s = cur();
    {
        std::lock_guard<std::mutex> lk(s.poolMtx);
        ++s.cAlloc;
        bool fFail = false;
        if (fCanFail && s.failNth > 0 && --s.failNth == 0)
            fFail = true;
        if (fCanFail && s.fFailSize && cb == s.cbFail)
            fFail = true;
        if (fFail) {
            ++s.cFail;
            return nullptr;
        }
    }
    std::size_t cbAlloc = (cb + 15) & ~std::size_t(15);
    if (cbAlloc == 0)
        cbAlloc = 16;
    void* p = std::aligned_alloc(16, cbAlloc);
    if (!p)
        fatal("out of memory");
    std::memset(p, fZero ? 0 : 0xA5, cbAlloc);
    std::lock_guard<std::mutex> lk(s.poolMtx);
    s.blocks[p] = {cb, tag};
    return p;
}

void poolFree(void* p)
{
    if (!p)
        fatal("ExFreePool of a null pointer");
    State& s = cur();
    {
        std::lock_guard<std::mutex> lk(s.poolMtx);
        auto it = s.blocks.find(p);
        if (it == s.blocks.end())
            fatal("ExFreePool of a block that is not allocated (freed twice, or never allocated)");
        s.blocks.erase(it);
    }
    std::free(p);
}

}  // namespace detail

using namespace detail;

std::size_t Pool::outstanding() const
{
    std::lock_guard<std::mutex> lk(_s.poolMtx);
    return _s.blocks.size();
}

std::size_t Pool::outstandingBytes() const
{
    std::lock_guard<std::mutex> lk(_s.poolMtx);
    std::size_t cb = 0;
    for (const auto& b : _s.blocks)
        cb += b.second.first;
    return cb;
}

std::size_t Pool::allocations() const
{
    std::lock_guard<std::mutex> lk(_s.poolMtx);
    return _s.cAlloc;
}

std::size_t Pool::failures() const
{
    std::lock_guard<std::mutex> lk(_s.poolMtx);
    return _s.cFail;
}

std::size_t Pool::executableAllocations() const
{
    std::lock_guard<std::mutex> lk(_s.poolMtx);
    return _s.cExecutable;
}

void Pool::failNth(unsigned n)
{
    std::lock_guard<std::mutex> lk(_s.poolMtx);
    _s.failNth = n;
}

void Pool::failSize(std::size_t cb)
{
    std::lock_guard<std::mutex> lk(_s.poolMtx);
    _s.fFailSize = true;
    _s.cbFail = cb;
}

void Pool::clearFaults()
{
    std::lock_guard<std::mutex> lk(_s.poolMtx);
    _s.failNth = 0;
    _s.fFailSize = false;
}

std::string Pool::describeOutstanding() const
{
    std::lock_guard<std::mutex> lk(_s.poolMtx);
    std::ostringstream os;
    for (const auto& b : _s.blocks) {
        ULONG t = b.second.second;
        char tag[5] = {char(t & 0xFF), char((t >> 8) & 0xFF), char((t >> 16) & 0xFF),
                       char((t >> 24) & 0xFF), 0};
        for (int i = 0; i < 4; ++i)
            if (tag[i] < 0x20 || tag[i] > 0x7E)
                tag[i] = '.';
        os << "'" << tag << "' " << b.second.first << " bytes\n";
    }
    return os.str();
}

}  // namespace kstub

using namespace kstub::detail;

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag)
{
    if (PoolType == NonPagedPool) {
        State& s = cur();
        std::lock_guard<std::mutex> lk(s.poolMtx);
        ++s.cExecutable;
    }
    return poolAlloc(NumberOfBytes, Tag, false);
}

PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes)
{
    return ExAllocatePoolWithTag(PoolType, NumberOfBytes, 0x656E6F4E);  // 'None'
}

PVOID ExAllocatePool2(POOL_FLAGS Flags, SIZE_T NumberOfBytes, ULONG Tag)
{
    return poolAlloc(NumberOfBytes, Tag, (Flags & POOL_FLAG_UNINITIALIZED) == 0);
}

VOID ExFreePool(PVOID P) { poolFree(P); }

VOID ExFreePoolWithTag(PVOID P, ULONG) { poolFree(P); }
