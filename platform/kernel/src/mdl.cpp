// Memory descriptor lists and the probe of user addresses.
#include "state.h"

using namespace kstub;
using namespace kstub::detail;

namespace {

bool overlaps(const std::vector<Range>& v, uintptr_t lo, uintptr_t hi)
{
    for (const Range& r : v)
        if (lo < r.hi && r.lo < hi)
            return true;
    return false;
}

[[noreturn]] void refuse(State& s)
{
    {
        std::lock_guard<std::mutex> lk(s.memMtx);
        ++s.cRefused;
    }
    throw KvSehException{STATUS_ACCESS_VIOLATION};
}

}  // namespace

PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer, BOOLEAN,
                   struct _IRP* Irp)
{
    if (takeFault(Fault::AllocateMdl))
        return nullptr;
    State& s = cur();
    auto* pm = new MDL{};
    uintptr_t va = reinterpret_cast<uintptr_t>(VirtualAddress);
    pm->Size = sizeof(MDL);
    pm->StartVa = reinterpret_cast<PVOID>(va & ~uintptr_t(PAGE_SIZE - 1));
    pm->ByteOffset = ULONG(va & (PAGE_SIZE - 1));
    pm->ByteCount = Length;
    {
        std::lock_guard<std::mutex> lk(s.objMtx);
        s.mdls.insert(pm);
    }
    if (Irp) {
        if (SecondaryBuffer && Irp->MdlAddress) {
            PMDL p = Irp->MdlAddress;
            while (p->Next)
                p = p->Next;
            p->Next = pm;
        } else if (!SecondaryBuffer) {
            Irp->MdlAddress = pm;
        }
    }
    return pm;
}

VOID IoFreeMdl(PMDL Mdl)
{
    State& s = cur();
    {
        std::lock_guard<std::mutex> lk(s.objMtx);
        if (s.mdls.erase(Mdl) == 0)
            fatal("IoFreeMdl of an MDL that is not allocated (freed twice?)");
    }
    if (Mdl->MdlFlags & MDL_PAGES_LOCKED)
        fatal("IoFreeMdl of an MDL whose pages are still locked (MmUnlockPages missing)");
    delete Mdl;
}

VOID MmProbeAndLockPages(PMDL Mdl, KPROCESSOR_MODE AccessMode, LOCK_OPERATION Operation)
{
    State& s = cur();
    {
        std::lock_guard<std::mutex> lk(s.memMtx);
        ++s.cProbe;
    }
    if (Mdl->MdlFlags & MDL_PAGES_LOCKED)
        fatal("MmProbeAndLockPages of an MDL whose pages are locked already");
    if (takeFault(Fault::ProbeAndLockPages))
        refuse(s);
    uintptr_t lo = reinterpret_cast<uintptr_t>(MmGetMdlVirtualAddress(Mdl));
    uintptr_t cb = Mdl->ByteCount;
    uintptr_t hi = lo + cb;
    bool fWrite = Operation != IoReadAccess;
    if (cb != 0) {
        if (hi < lo)
            refuse(s);  // the range wraps
        if (AccessMode == UserMode && (lo < kLowestUserAddress || hi > kUserProbeAddress))
            refuse(s);
        if (lo < kLowestUserAddress)
            refuse(s);  // the null page region is never valid
        {
            std::lock_guard<std::mutex> lk(s.memMtx);
            if (overlaps(s.forbidden, lo, hi) || (fWrite && overlaps(s.readOnly, lo, hi))) {
                ++s.cRefused;
                throw KvSehException{STATUS_ACCESS_VIOLATION};
            }
        }
        if (!userPagesAccessible(lo, hi, fWrite))
            refuse(s);
    }
    Mdl->MdlFlags |= MDL_PAGES_LOCKED;
}

VOID MmUnlockPages(PMDL Mdl)
{
    if (!(Mdl->MdlFlags & MDL_PAGES_LOCKED))
        fatal("MmUnlockPages of an MDL whose pages are not locked");
    Mdl->MdlFlags &= ~(MDL_PAGES_LOCKED | MDL_MAPPED_TO_SYSTEM_VA);
    Mdl->MappedSystemVa = nullptr;
}

VOID MmBuildMdlForNonPagedPool(PMDL Mdl)
{
    Mdl->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
    Mdl->MappedSystemVa = MmGetMdlVirtualAddress(Mdl);
}

PVOID MmMapLockedPagesSpecifyCache(PMDL Mdl, KPROCESSOR_MODE, MEMORY_CACHING_TYPE, PVOID, ULONG,
                                   ULONG)
{
    if (!(Mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL)))
        fatal("MmMapLockedPagesSpecifyCache of an MDL whose pages are not locked");
    if (takeFault(Fault::MapLockedPages))
        return nullptr;
    // The system address of a user buffer is the buffer itself: one process
    // holds both halves here.
    Mdl->MappedSystemVa = MmGetMdlVirtualAddress(Mdl);
    Mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
    return Mdl->MappedSystemVa;
}

VOID MmUnmapLockedPages(PVOID, PMDL Mdl)
{
    Mdl->MdlFlags &= ~MDL_MAPPED_TO_SYSTEM_VA;
    Mdl->MappedSystemVa = nullptr;
}

namespace kstub {

void Memory::forbid(const void* p, std::size_t cb)
{
    std::lock_guard<std::mutex> lk(_s.memMtx);
    uintptr_t lo = reinterpret_cast<uintptr_t>(p);
    _s.forbidden.push_back(detail::Range{lo, lo + cb});
}

void Memory::readOnly(const void* p, std::size_t cb)
{
    std::lock_guard<std::mutex> lk(_s.memMtx);
    uintptr_t lo = reinterpret_cast<uintptr_t>(p);
    _s.readOnly.push_back(detail::Range{lo, lo + cb});
}

void Memory::clear()
{
    std::lock_guard<std::mutex> lk(_s.memMtx);
    _s.forbidden.clear();
    _s.readOnly.clear();
}

std::size_t Memory::probes() const
{
    std::lock_guard<std::mutex> lk(_s.memMtx);
    return _s.cProbe;
}

std::size_t Memory::refusals() const
{
    std::lock_guard<std::mutex> lk(_s.memMtx);
    return _s.cRefused;
}

std::size_t Memory::systemCalls() const
{
    return detail::g_cUserMemoryCalls.load(std::memory_order_relaxed);
}

bool Memory::reachableWithoutTouch(const void* p, std::size_t cb, bool fWrite)
{
    uintptr_t lo = reinterpret_cast<uintptr_t>(p);
    return lo + cb >= lo && detail::userPagesAccessible(lo, lo + cb, fWrite, false);
}

}  // namespace kstub
