/* The kernel image's probe routine (driver/wm_probe_x64.S) in a user-mode
 * program of the platform, with kernel routines of this program in place of
 * MmProbeAndLockPages: one that returns, one that touches a page that is not
 * mapped, one that raises an exception of its own. The routine must give
 * STATUS_SUCCESS for the first and a failure for the others (the
 * exception's code, or STATUS_ACCESS_VIOLATION where the platform's
 * __C_specific_handler passes no code), and the program goes on after each.
 * It prints a line for each and exits with 0 when all hold. */
#include <stdio.h>
#include <windows.h>

long wmProbeAndLock(void* pmdl, char mode, int op);
void* __imp_MmProbeAndLockPages;

static void probeReturns(void* pmdl, char mode, int op)
{
    (void)pmdl;
    (void)mode;
    (void)op;
}

static void probeTouchesNothingMapped(void* pmdl, char mode, int op)
{
    (void)mode;
    (void)op;
    *(volatile int*)pmdl = 1;
}

static void probeRaises(void* pmdl, char mode, int op)
{
    (void)pmdl;
    (void)mode;
    (void)op;
    RaiseException(0xC00000A1, 0, 0, NULL); /* STATUS_WORKING_SET_QUOTA */
}

static int check(const char* szWhat, void (*pfn)(void*, char, int), unsigned long uWant, unsigned long uOr)
{
    unsigned long u;
    int fOk;
    __imp_MmProbeAndLockPages = (void*)pfn;
    u = (unsigned long)wmProbeAndLock((void*)16, 1, 0);
    fOk = u == uWant || u == uOr;
    printf("%s: %08lx (%s)\n", szWhat, u, fOk ? "as it should" : "wrong");
    return fOk;
}

int main(void)
{
    int fOk = 1;
    fOk &= check("a probe that returns", probeReturns, 0, 0);
    fOk &= check("a probe that touches a page not mapped", probeTouchesNothingMapped, 0xC0000005, 0xC0000005);
    fOk &= check("a probe that raises c00000a1", probeRaises, 0xC00000A1, 0xC0000005);
    fOk &= check("a probe that returns after them", probeReturns, 0, 0);
    return fOk ? 0 : 1;
}
