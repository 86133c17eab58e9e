// Runtime-library calls and the process environment.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "kv_win32_test.h"

namespace {
std::atomic<int> g_iKbhit{0};
std::atomic<unsigned> g_cKbhitWait{0};
std::atomic<bool> g_fKbhitCount{false};
}  // namespace

char* _strdup(const char* sz)
{
    if (!sz)
        return nullptr;
    std::size_t cb = std::strlen(sz) + 1;
    char* p = static_cast<char*>(std::malloc(cb));
    if (p)
        std::memcpy(p, sz, cb);
    return p;
}

int _kbhit(void)
{
    if (g_fKbhitCount.load()) {
        unsigned c = g_cKbhitWait.load();
        while (c > 0 && !g_cKbhitWait.compare_exchange_weak(c, c - 1)) {
        }
        return c > 0 ? 0 : 1;
    }
    return g_iKbhit.load();
}

namespace kvwin32 {

void setKbhit(int v)
{
    g_fKbhitCount.store(false);
    g_iKbhit.store(v);
}

void setKbhitAfter(unsigned n)
{
    g_cKbhitWait.store(n);
    g_fKbhitCount.store(true);
}

}  // namespace kvwin32

DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize)
{
    const char* sz = lpName ? std::getenv(lpName) : nullptr;
    if (!sz) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    std::size_t cch = std::strlen(sz);
    if (!lpBuffer || cch + 1 > nSize)
        return DWORD(cch + 1);  // the size needed, terminating zero included
    std::memcpy(lpBuffer, sz, cch + 1);
    return DWORD(cch);
}
