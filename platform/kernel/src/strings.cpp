// Counted strings and the status-to-error mapping.
#include "state.h"

using namespace kstub;
using namespace kstub::detail;

namespace {
constexpr ULONG kTagString = 0x67727453;  // 'Strg'
}

namespace kstub::detail {

UNICODE_STRING countedView(std::u16string& s)
{
    UNICODE_STRING u;
    u.Buffer = s.empty() ? nullptr : &s[0];
    u.Length = USHORT(s.size() * 2);
    u.MaximumLength = USHORT(s.size() * 2);
    return u;
}

}  // namespace kstub::detail

VOID RtlInitUnicodeString(PUNICODE_STRING Destination, PCWSTR Source)
{
    std::size_t n = 0;
    if (Source)
        while (Source[n])
            ++n;
    Destination->Buffer = const_cast<PWSTR>(Source);
    Destination->Length = USHORT(n * 2);
    Destination->MaximumLength = Source ? USHORT(n * 2 + 2) : 0;
}

VOID RtlInitAnsiString(PANSI_STRING Destination, PCSTR Source)
{
    std::size_t n = Source ? std::strlen(Source) : 0;
    Destination->Buffer = const_cast<PCHAR>(Source);
    Destination->Length = USHORT(n);
    Destination->MaximumLength = Source ? USHORT(n + 1) : 0;
}

NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING Destination, PCANSI_STRING Source,
                                      BOOLEAN AllocateDestinationString)
{
    std::size_t cb = std::size_t(Source->Length) * 2;
    if (cb + 2 > 0xFFFF)
        return STATUS_INVALID_PARAMETER;
    if (AllocateDestinationString) {
        Destination->Buffer = static_cast<PWSTR>(poolAlloc(cb + 2, kTagString, false));
        if (!Destination->Buffer)
            return STATUS_NO_MEMORY;
        Destination->MaximumLength = USHORT(cb + 2);
    } else if (Destination->MaximumLength < cb) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (USHORT i = 0; i < Source->Length; ++i)
        Destination->Buffer[i] = WCHAR(static_cast<unsigned char>(Source->Buffer[i]));
    Destination->Length = USHORT(cb);
    if (Destination->MaximumLength >= cb + 2)
        Destination->Buffer[Source->Length] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING Destination, PCUNICODE_STRING Source,
                                      BOOLEAN AllocateDestinationString)
{
    std::size_t n = Source->Length / 2;
    if (AllocateDestinationString) {
        Destination->Buffer = static_cast<PCHAR>(poolAlloc(n + 1, kTagString, false));
        if (!Destination->Buffer)
            return STATUS_NO_MEMORY;
        Destination->MaximumLength = USHORT(n + 1);
    }
    NTSTATUS st = STATUS_SUCCESS;
    if (n + 1 > Destination->MaximumLength) {
        // Cut to the room, zero-terminated, as the platform does.
        n = Destination->MaximumLength ? Destination->MaximumLength - 1u : 0u;
        st = STATUS_BUFFER_OVERFLOW;
        if (Destination->MaximumLength == 0)
            return st;
    }
    for (std::size_t i = 0; i < n; ++i) {
        WCHAR c = Source->Buffer[i];
        Destination->Buffer[i] = c < 0x80 ? char(c) : '?';
    }
    Destination->Buffer[n] = 0;
    Destination->Length = USHORT(n);
    return st;
}

VOID RtlFreeUnicodeString(PUNICODE_STRING UnicodeString)
{
    if (UnicodeString->Buffer)
        poolFree(UnicodeString->Buffer);
    UnicodeString->Buffer = nullptr;
    UnicodeString->Length = UnicodeString->MaximumLength = 0;
}

VOID RtlFreeAnsiString(PANSI_STRING AnsiString)
{
    if (AnsiString->Buffer)
        poolFree(AnsiString->Buffer);
    AnsiString->Buffer = nullptr;
    AnsiString->Length = AnsiString->MaximumLength = 0;
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN CaseInSensitive)
{
    if (a->Length != b->Length)
        return FALSE;
    for (USHORT i = 0; i < a->Length / 2; ++i) {
        WCHAR x = a->Buffer[i], y = b->Buffer[i];
        if (CaseInSensitive) {
            if (x >= 'a' && x <= 'z')
                x = WCHAR(x - 'a' + 'A');
            if (y >= 'a' && y <= 'z')
                y = WCHAR(y - 'a' + 'A');
        }
        if (x != y)
            return FALSE;
    }
    return TRUE;
}

SIZE_T RtlCompareMemory(const VOID* a, const VOID* b, SIZE_T Length)
{
    auto* pa = static_cast<const unsigned char*>(a);
    auto* pb = static_cast<const unsigned char*>(b);
    SIZE_T i = 0;
    while (i < Length && pa[i] == pb[i])
        ++i;
    return i;
}

// The fixed mapping of this platform from statuses to Win32 error numbers.
ULONG RtlNtStatusToDosError(NTSTATUS Status)
{
    struct Pair {
        NTSTATUS st;
        ULONG err;
    };
    static const Pair map[] = {
        {STATUS_SUCCESS, 0},
        {STATUS_PENDING, 997},                    // ERROR_IO_PENDING
        {STATUS_TIMEOUT, 1460},                   // ERROR_TIMEOUT
        {STATUS_BUFFER_OVERFLOW, 234},            // ERROR_MORE_DATA
        {STATUS_UNSUCCESSFUL, 31},                // ERROR_GEN_FAILURE
        {STATUS_NOT_IMPLEMENTED, 1},              // ERROR_INVALID_FUNCTION
        {STATUS_ACCESS_VIOLATION, 998},           // ERROR_NOACCESS
        {STATUS_INVALID_HANDLE, 6},               // ERROR_INVALID_HANDLE
        {STATUS_INVALID_PARAMETER, 87},           // ERROR_INVALID_PARAMETER
        {STATUS_NO_SUCH_DEVICE, 55},              // ERROR_DEV_NOT_EXIST
        {STATUS_INVALID_DEVICE_REQUEST, 1},       // ERROR_INVALID_FUNCTION
        {STATUS_NO_MEMORY, 8},                    // ERROR_NOT_ENOUGH_MEMORY
        {STATUS_ACCESS_DENIED, 5},                // ERROR_ACCESS_DENIED
        {STATUS_BUFFER_TOO_SMALL, 122},           // ERROR_INSUFFICIENT_BUFFER
        {STATUS_OBJECT_NAME_INVALID, 123},        // ERROR_INVALID_NAME
        {STATUS_OBJECT_NAME_NOT_FOUND, 2},        // ERROR_FILE_NOT_FOUND
        {STATUS_OBJECT_NAME_COLLISION, 183},      // ERROR_ALREADY_EXISTS
        {STATUS_OBJECT_PATH_NOT_FOUND, 3},        // ERROR_PATH_NOT_FOUND
        {STATUS_OBJECT_PATH_SYNTAX_BAD, 161},     // ERROR_BAD_PATHNAME
        {STATUS_DELETE_PENDING, 5},               // ERROR_ACCESS_DENIED
        {STATUS_INSUFFICIENT_RESOURCES, 1450},    // ERROR_NO_SYSTEM_RESOURCES
        {STATUS_DEVICE_NOT_CONNECTED, 1167},      // ERROR_DEVICE_NOT_CONNECTED
        {STATUS_DEVICE_NOT_READY, 21},            // ERROR_NOT_READY
        {STATUS_IO_TIMEOUT, 121},                 // ERROR_SEM_TIMEOUT
        {STATUS_NOT_SUPPORTED, 50},               // ERROR_NOT_SUPPORTED
        {STATUS_NAME_TOO_LONG, 206},              // ERROR_FILENAME_EXCED_RANGE
        {STATUS_CANCELLED, 995},                  // ERROR_OPERATION_ABORTED
        {STATUS_DEVICE_CONFIGURATION_ERROR, 13},  // ERROR_INVALID_DATA
        {STATUS_DEVICE_REMOVED, 1617},            // ERROR_DEVICE_REMOVED
    };
    for (const Pair& p : map)
        if (p.st == Status)
            return p.err;
    return 31;  // ERROR_GEN_FAILURE
}
