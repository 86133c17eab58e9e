// The test driver as a loadable module: the framework stub is its entry.
#include "kv_kmdf_stub.h"
#include "test_driver.h"

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    return testdrv::DriverEntry(DriverObject, RegistryPath);
}
