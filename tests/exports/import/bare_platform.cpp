// Here the platform is the stand-in kernel: the programs run with one booted
// before main, bare (no driver, no board), as a Windows machine without the
// board and its driver is.
#include "kv_kernel.h"

namespace {

kstub::Kernel g_kernel;

}  // namespace
