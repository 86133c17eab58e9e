// The framework loader's bind and unbind, recorded for tests.
#include "kv_wdfldr.h"
#include "state.h"

using namespace kstub;
using namespace kstub::detail;

namespace {
char g_globals;

void note(const std::string& what, PWDF_BIND_INFO bi)
{
    State& s = cur();
    std::lock_guard<std::mutex> lk(s.miscMtx);
    s.binds.push_back(what + " " + std::to_string(bi->Version.Major) + "." +
                      std::to_string(bi->Version.Minor));
}
}  // namespace

NTSTATUS WdfVersionBind(PDRIVER_OBJECT, PUNICODE_STRING, PWDF_BIND_INFO BindInfo, PVOID* ComponentGlobals)
{
    if (!BindInfo || !ComponentGlobals)
        return STATUS_INVALID_PARAMETER;
    if (BindInfo->Version.Major != 1)
        return STATUS_OBJECT_TYPE_MISMATCH;
    note("bind", BindInfo);
    *ComponentGlobals = &g_globals;
    return STATUS_SUCCESS;
}

NTSTATUS WdfVersionUnbind(PUNICODE_STRING, PWDF_BIND_INFO BindInfo, PVOID ComponentGlobals)
{
    if (!BindInfo || ComponentGlobals != &g_globals)
        return STATUS_INVALID_PARAMETER;
    note("unbind", BindInfo);
    return STATUS_SUCCESS;
}
