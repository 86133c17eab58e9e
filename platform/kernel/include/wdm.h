// The Windows kernel as the driver sees it, declared with the kernel's names
// and signatures. Layouts are this platform's own; only what a plug-and-play
// driver of this system touches is declared. The stand-in kernel (ntoskrnl)
// implements every function; kv_kernel.h is its harness for tests.
#pragma once

#include <cstdarg>
#include <cstring>

#include "kv_basetypes.h"
#include "devioctl.h"

#ifdef NTOSKRNL_EXPORTS
#define NTKERNELAPI extern "C" __attribute__((visibility("default")))
#else
#define NTKERNELAPI extern "C"
#endif
#define NTAPI
#define NTSYSAPI NTKERNELAPI
#define FASTCALL
#define IN
#define OUT
#define OPTIONAL
#define UNREFERENCED_PARAMETER(p) ((void)(p))

typedef short CSHORT;
typedef char CCHAR;
typedef UCHAR KIRQL;
typedef KIRQL* PKIRQL;
typedef ULONG_PTR KAFFINITY;
typedef ULONG ACCESS_MASK;
typedef ULONG DEVICE_TYPE;
typedef ULONG_PTR KSPIN_LOCK;
typedef KSPIN_LOCK* PKSPIN_LOCK;
typedef LONG KPRIORITY;
typedef UCHAR KPROCESSOR_MODE;
typedef ULONG LOGICAL;
typedef union _ULARGE_INTEGER {
    struct {
        ULONG LowPart;
        ULONG HighPart;
    } u;
    ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

// ---------------------------------------------------------------------------
// Status values.
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_WAIT_0 ((NTSTATUS)0x00000000L)
#define STATUS_TIMEOUT ((NTSTATUS)0x00000102L)
#define STATUS_PENDING ((NTSTATUS)0x00000103L)
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005L)
#define STATUS_NO_MORE_ENTRIES ((NTSTATUS)0x8000001AL)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001L)
#define STATUS_NOT_IMPLEMENTED ((NTSTATUS)0xC0000002L)
#define STATUS_ACCESS_VIOLATION ((NTSTATUS)0xC0000005L)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_NO_SUCH_DEVICE ((NTSTATUS)0xC000000EL)
#define STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010L)
#define STATUS_MORE_PROCESSING_REQUIRED ((NTSTATUS)0xC0000016L)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017L)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022L)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023L)
#define STATUS_OBJECT_TYPE_MISMATCH ((NTSTATUS)0xC0000024L)
#define STATUS_OBJECT_NAME_INVALID ((NTSTATUS)0xC0000033L)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034L)
#define STATUS_OBJECT_NAME_COLLISION ((NTSTATUS)0xC0000035L)
#define STATUS_OBJECT_PATH_NOT_FOUND ((NTSTATUS)0xC000003AL)
#define STATUS_OBJECT_PATH_SYNTAX_BAD ((NTSTATUS)0xC000003BL)
#define STATUS_DELETE_PENDING ((NTSTATUS)0xC0000056L)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009AL)
#define STATUS_DEVICE_NOT_CONNECTED ((NTSTATUS)0xC000009DL)
#define STATUS_DEVICE_NOT_READY ((NTSTATUS)0xC00000A3L)
#define STATUS_IO_TIMEOUT ((NTSTATUS)0xC00000B5L)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BBL)
#define STATUS_NAME_TOO_LONG ((NTSTATUS)0xC0000106L)
#define STATUS_CANCELLED ((NTSTATUS)0xC0000120L)
#define STATUS_DEVICE_CONFIGURATION_ERROR ((NTSTATUS)0xC0000182L)
#define STATUS_DEVICE_REMOVED ((NTSTATUS)0xC00002B6L)

// ---------------------------------------------------------------------------
// Interrupt request levels and processor modes.
#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define PROFILE_LEVEL 27
#define HIGH_LEVEL 31

enum { KernelMode = 0, UserMode = 1 };
typedef enum _MODE { KernelModeValue = 0, UserModeValue = 1 } MODE;

typedef enum _KWAIT_REASON { Executive = 0, UserRequest = 6 } KWAIT_REASON;

// ---------------------------------------------------------------------------
// Strings and object attributes.
typedef struct _UNICODE_STRING {
    USHORT Length;         // bytes, without a terminating zero
    USHORT MaximumLength;  // bytes
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

typedef struct _STRING {
    USHORT Length;
    USHORT MaximumLength;
    PCHAR Buffer;
} STRING, ANSI_STRING, *PANSI_STRING, *PSTRING;
typedef const ANSI_STRING* PCANSI_STRING;

#define OBJ_CASE_INSENSITIVE 0x00000040L
#define OBJ_KERNEL_HANDLE 0x00000200L

typedef struct _OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

#define InitializeObjectAttributes(p, n, a, r, s) \
    do {                                          \
        (p)->Length = sizeof(OBJECT_ATTRIBUTES);  \
        (p)->RootDirectory = (r);                 \
        (p)->Attributes = (a);                    \
        (p)->ObjectName = (n);                    \
        (p)->SecurityDescriptor = (s);            \
        (p)->SecurityQualityOfService = NULL;     \
    } while (0)

#define RtlCopyMemory(d, s, n) std::memcpy((d), (s), (n))
#define RtlMoveMemory(d, s, n) std::memmove((d), (s), (n))
#define RtlZeroMemory(d, n) std::memset((d), 0, (n))
#define RtlFillMemory(d, n, v) std::memset((d), (v), (n))
#define RtlEqualMemory(a, b, n) (std::memcmp((a), (b), (n)) == 0)

NTKERNELAPI VOID RtlInitUnicodeString(PUNICODE_STRING Destination, PCWSTR Source);
NTKERNELAPI VOID RtlInitAnsiString(PANSI_STRING Destination, PCSTR Source);
// With AllocateDestinationString the buffer comes from the pool (freed by
// RtlFreeUnicodeString / RtlFreeAnsiString); characters above 0x7F become '?'
// on the way to 8-bit text.
NTKERNELAPI NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING Destination,
                                                  PCANSI_STRING Source,
                                                  BOOLEAN AllocateDestinationString);
NTKERNELAPI NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING Destination,
                                                  PCUNICODE_STRING Source,
                                                  BOOLEAN AllocateDestinationString);
NTKERNELAPI VOID RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);
NTKERNELAPI VOID RtlFreeAnsiString(PANSI_STRING AnsiString);
NTKERNELAPI BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b,
                                          BOOLEAN CaseInSensitive);
NTKERNELAPI SIZE_T RtlCompareMemory(const VOID* a, const VOID* b, SIZE_T Length);
// The Win32 error number of a status (the mapping kernel32's GetLastError uses).
NTKERNELAPI ULONG RtlNtStatusToDosError(NTSTATUS Status);

// ---------------------------------------------------------------------------
// Debug output and stops. The format follows the platform's rules: %ws, %wZ
// and %S take UTF-16 text, an 'l' size is 32 bits, 'll' and I64 64 bits,
// 'I', 'z', 't' pointer sized, %p prints 16 upper-case hex digits.
NTKERNELAPI ULONG DbgPrint(PCSTR Format, ...);
NTKERNELAPI ULONG DbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, ...);
NTKERNELAPI ULONG vDbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, va_list ap);
#define KdPrint(args) DbgPrint args
#define DPFLTR_IHVDRIVER_ID 77
#define DPFLTR_ERROR_LEVEL 0
#define DPFLTR_INFO_LEVEL 3

// Records and prints the stop code with its parameters, then ends the process.
NTKERNELAPI __attribute__((noreturn)) VOID KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1,
                                                        ULONG_PTR P2, ULONG_PTR P3, ULONG_PTR P4);
NTKERNELAPI __attribute__((noreturn)) VOID KeBugCheck(ULONG BugCheckCode);

// A probe that refuses a range throws this (the platform's structured
// exception); the driver catches it with KV_TRY / KV_EXCEPT.
struct KvSehException {
    NTSTATUS Code;
};
#define KV_TRY try
#define KV_EXCEPT catch (const KvSehException&)

// ---------------------------------------------------------------------------
// Interlocked operations.
inline LONG InterlockedIncrement(LONG volatile* p) { return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedDecrement(LONG volatile* p) { return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchange(LONG volatile* p, LONG v) { return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchangeAdd(LONG volatile* p, LONG v) { return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST); }
inline LONG InterlockedCompareExchange(LONG volatile* p, LONG v, LONG cmp)
{
    __atomic_compare_exchange_n(p, &cmp, v, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return cmp;
}
inline LONG InterlockedXor(LONG volatile* p, LONG v) { return __atomic_fetch_xor(p, v, __ATOMIC_SEQ_CST); }
// Loads of a word or pointer that other threads change with interlocked
// operations: an acquiring one sees what the changing thread did before.
inline LONG ReadAcquire(LONG const volatile* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
inline PVOID ReadPointerAcquire(PVOID const volatile* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
inline PVOID InterlockedExchangePointer(PVOID volatile* p, PVOID v)
{
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* p, PVOID v, PVOID cmp)
{
    __atomic_compare_exchange_n(p, &cmp, v, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return cmp;
}

// ---------------------------------------------------------------------------
// Dispatcher objects, waits, time.
typedef struct _DISPATCHER_HEADER {
    UCHAR Type;  // one of the KV_OBJ_ values below
    UCHAR Reserved[3];
    LONG SignalState;
} DISPATCHER_HEADER;

#define KV_OBJ_NOTIFICATION_EVENT 0
#define KV_OBJ_SYNCHRONIZATION_EVENT 1
#define KV_OBJ_MUTEX 2
#define KV_OBJ_NOTIFICATION_TIMER 8
#define KV_OBJ_SYNCHRONIZATION_TIMER 9

typedef enum _EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 } EVENT_TYPE;
typedef enum _TIMER_TYPE { NotificationTimer = 0, SynchronizationTimer = 1 } TIMER_TYPE;

typedef struct _KEVENT {
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

typedef struct _KMUTEX {
    DISPATCHER_HEADER Header;  // SignalState 1 when free
    PVOID OwnerThread;
    LONG RecursionCount;
} KMUTEX, *PKMUTEX, *PRKMUTEX;

typedef struct _FAST_MUTEX {
    LONG Count;  // 1 free, 0 owned
    PVOID Owner;
    KIRQL OldIrql;
} FAST_MUTEX, *PFAST_MUTEX;

#define IO_NO_INCREMENT 0
#define EVENT_INCREMENT 1

NTKERNELAPI VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
NTKERNELAPI LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
NTKERNELAPI VOID KeClearEvent(PRKEVENT Event);
NTKERNELAPI LONG KeResetEvent(PRKEVENT Event);
NTKERNELAPI LONG KeReadStateEvent(PRKEVENT Event);
NTKERNELAPI VOID KeInitializeMutex(PRKMUTEX Mutex, ULONG Level);
NTKERNELAPI LONG KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN Wait);
NTKERNELAPI VOID ExInitializeFastMutex(PFAST_MUTEX FastMutex);
NTKERNELAPI VOID ExAcquireFastMutex(PFAST_MUTEX FastMutex);
NTKERNELAPI VOID ExReleaseFastMutex(PFAST_MUTEX FastMutex);

// Waits on an event, a mutex or a timer. Timeout null waits for ever: the
// stand-in's wait watchdog then turns a hang into a test failure.
NTKERNELAPI NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason,
                                           KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                           PLARGE_INTEGER Timeout);
NTKERNELAPI NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                            PLARGE_INTEGER Interval);

NTKERNELAPI VOID KeQueryTickCount(PLARGE_INTEGER CurrentCount);
NTKERNELAPI ULONG KeQueryTimeIncrement(void);
NTKERNELAPI ULONGLONG KeQueryInterruptTime(void);
NTKERNELAPI VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime);

NTKERNELAPI KIRQL KeGetCurrentIrql(void);
NTKERNELAPI VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql);
NTKERNELAPI VOID KeLowerIrql(KIRQL NewIrql);
NTKERNELAPI KIRQL KeRaiseIrqlToDpcLevel(void);

NTKERNELAPI VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock);
NTKERNELAPI VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql);
NTKERNELAPI VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql);
NTKERNELAPI VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock);
NTKERNELAPI VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock);

// ---------------------------------------------------------------------------
// Deferred procedure calls, timers, interrupts.
struct _KDPC;
typedef VOID KDEFERRED_ROUTINE(struct _KDPC* Dpc, PVOID DeferredContext, PVOID SystemArgument1,
                               PVOID SystemArgument2);
typedef KDEFERRED_ROUTINE* PKDEFERRED_ROUTINE;

typedef struct _KDPC {
    UCHAR Type;
    UCHAR Importance;
    volatile USHORT Number;
    PKDEFERRED_ROUTINE DeferredRoutine;
    PVOID DeferredContext;
    PVOID SystemArgument1;
    PVOID SystemArgument2;
    volatile LONG Inserted;  // queued and not yet run
    PVOID IoRoutine;         // the device's deferred routine (IoInitializeDpcRequest)
} KDPC, *PKDPC, *PRKDPC;

typedef struct _KTIMER {
    DISPATCHER_HEADER Header;
    ULONGLONG DueTime;  // platform clock, 100 ns units since start
    LONG Period;        // milliseconds, 0 for a one-shot timer
    PKDPC Dpc;
    LONG Inserted;
} KTIMER, *PKTIMER, *PRKTIMER;

NTKERNELAPI VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine,
                                 PVOID DeferredContext);
// A queued call runs at DISPATCH_LEVEL as soon as the queuing thread's level
// drops below DISPATCH_LEVEL (at once when it already is below).
NTKERNELAPI BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2);
NTKERNELAPI BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc);
NTKERNELAPI VOID KeFlushQueuedDpcs(void);

NTKERNELAPI VOID KeInitializeTimer(PKTIMER Timer);
NTKERNELAPI VOID KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type);
// Due time: negative relative, positive absolute (100 ns units), 0 at once.
// Expiries are fired by the harness when it moves the clock (kv_kernel.h).
NTKERNELAPI BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc);
NTKERNELAPI BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc);
NTKERNELAPI BOOLEAN KeCancelTimer(PKTIMER Timer);
NTKERNELAPI BOOLEAN KeReadStateTimer(PKTIMER Timer);

typedef struct _KINTERRUPT* PKINTERRUPT;
typedef BOOLEAN KSERVICE_ROUTINE(struct _KINTERRUPT* Interrupt, PVOID ServiceContext);
typedef KSERVICE_ROUTINE* PKSERVICE_ROUTINE;
typedef BOOLEAN KSYNCHRONIZE_ROUTINE(PVOID SynchronizeContext);
typedef KSYNCHRONIZE_ROUTINE* PKSYNCHRONIZE_ROUTINE;
typedef enum _KINTERRUPT_MODE { LevelSensitive = 0, Latched = 1 } KINTERRUPT_MODE;

NTKERNELAPI NTSTATUS IoConnectInterrupt(PKINTERRUPT* InterruptObject,
                                        PKSERVICE_ROUTINE ServiceRoutine, PVOID ServiceContext,
                                        PKSPIN_LOCK SpinLock, ULONG Vector, KIRQL Irql,
                                        KIRQL SynchronizeIrql, KINTERRUPT_MODE InterruptMode,
                                        BOOLEAN ShareVector, KAFFINITY ProcessorEnableMask,
                                        BOOLEAN FloatingSave);
NTKERNELAPI VOID IoDisconnectInterrupt(PKINTERRUPT InterruptObject);
NTKERNELAPI BOOLEAN KeSynchronizeExecution(PKINTERRUPT Interrupt,
                                           PKSYNCHRONIZE_ROUTINE SynchronizeRoutine,
                                           PVOID SynchronizeContext);
NTKERNELAPI KIRQL KeAcquireInterruptSpinLock(PKINTERRUPT Interrupt);
NTKERNELAPI VOID KeReleaseInterruptSpinLock(PKINTERRUPT Interrupt, KIRQL OldIrql);

// Port I/O: the low 16 bits of the address are the port number.
NTKERNELAPI UCHAR READ_PORT_UCHAR(PUCHAR Port);
NTKERNELAPI USHORT READ_PORT_USHORT(PUSHORT Port);
NTKERNELAPI ULONG READ_PORT_ULONG(PULONG Port);
NTKERNELAPI VOID WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value);
NTKERNELAPI VOID WRITE_PORT_USHORT(PUSHORT Port, USHORT Value);
NTKERNELAPI VOID WRITE_PORT_ULONG(PULONG Port, ULONG Value);

// ---------------------------------------------------------------------------
// Pool.
typedef enum _POOL_TYPE { NonPagedPool = 0, PagedPool = 1, NonPagedPoolNx = 512 } POOL_TYPE;
typedef ULONG64 POOL_FLAGS;
#define POOL_FLAG_NON_PAGED 0x0000000000000040ull
#define POOL_FLAG_PAGED 0x0000000000000100ull
#define POOL_FLAG_UNINITIALIZED 0x0000000000000002ull

// Blocks are 16-byte aligned; ExAllocatePoolWithTag fills a new block with
// 0xA5 (never zero), ExAllocatePool2 zeroes it unless asked not to.
NTKERNELAPI PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
NTKERNELAPI PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes);
NTKERNELAPI PVOID ExAllocatePool2(POOL_FLAGS Flags, SIZE_T NumberOfBytes, ULONG Tag);
NTKERNELAPI VOID ExFreePool(PVOID P);
NTKERNELAPI VOID ExFreePoolWithTag(PVOID P, ULONG Tag);

// ---------------------------------------------------------------------------
// Memory descriptor lists.
typedef struct _MDL {
    struct _MDL* Next;
    CSHORT Size;
    CSHORT MdlFlags;
    PVOID MappedSystemVa;
    PVOID StartVa;  // page-aligned start of the described range
    ULONG ByteCount;
    ULONG ByteOffset;  // offset of the range in its first page
} MDL, *PMDL;

#define MDL_MAPPED_TO_SYSTEM_VA 0x0001
#define MDL_PAGES_LOCKED 0x0002
#define MDL_SOURCE_IS_NONPAGED_POOL 0x0004

typedef enum _LOCK_OPERATION { IoReadAccess = 0, IoWriteAccess = 1, IoModifyAccess = 2 } LOCK_OPERATION;
typedef enum _MEMORY_CACHING_TYPE { MmNonCached = 0, MmCached = 1, MmWriteCombined = 2 } MEMORY_CACHING_TYPE;
typedef enum _MM_PAGE_PRIORITY { LowPagePriority = 0, NormalPagePriority = 16, HighPagePriority = 32 } MM_PAGE_PRIORITY;

#define PAGE_SIZE 0x1000
#define MmGetMdlByteCount(m) ((m)->ByteCount)
#define MmGetMdlByteOffset(m) ((m)->ByteOffset)
#define MmGetMdlVirtualAddress(m) ((PVOID)((PCHAR)((m)->StartVa) + (m)->ByteOffset))

struct _IRP;
NTKERNELAPI PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer,
                               BOOLEAN ChargeQuota, struct _IRP* Irp);
NTKERNELAPI VOID IoFreeMdl(PMDL Mdl);
// For UserMode the range must lie in the caller's process: not in the first
// 64 KiB, not past the user half, not wrapping, every page mapped, and
// writable unless the operation is IoReadAccess. A refusal throws
// KvSehException{STATUS_ACCESS_VIOLATION} without touching the memory.
NTKERNELAPI VOID MmProbeAndLockPages(PMDL Mdl, KPROCESSOR_MODE AccessMode, LOCK_OPERATION Operation);
NTKERNELAPI VOID MmUnlockPages(PMDL Mdl);
NTKERNELAPI VOID MmBuildMdlForNonPagedPool(PMDL Mdl);
NTKERNELAPI PVOID MmMapLockedPagesSpecifyCache(PMDL Mdl, KPROCESSOR_MODE AccessMode,
                                               MEMORY_CACHING_TYPE CacheType, PVOID RequestedAddress,
                                               ULONG BugCheckOnFailure, ULONG Priority);
NTKERNELAPI VOID MmUnmapLockedPages(PVOID BaseAddress, PMDL Mdl);
inline PVOID MmGetSystemAddressForMdlSafe(PMDL Mdl, ULONG Priority)
{
    if (Mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL))
        return Mdl->MappedSystemVa;
    return MmMapLockedPagesSpecifyCache(Mdl, KernelMode, MmCached, NULL, FALSE, Priority);
}

// ---------------------------------------------------------------------------
// Resources of a started device.
#pragma pack(push, 4)
typedef struct _CM_PARTIAL_RESOURCE_DESCRIPTOR {
    UCHAR Type;
    UCHAR ShareDisposition;
    USHORT Flags;
    union {
        struct {
            PHYSICAL_ADDRESS Start;
            ULONG Length;
        } Generic, Port, Memory;
        struct {
            ULONG Level;
            ULONG Vector;
            KAFFINITY Affinity;
        } Interrupt;
        struct {
            ULONG Data[3];
        } DevicePrivate;
        struct {
            ULONG DataSize;
            ULONG Reserved1;
            ULONG Reserved2;
        } DeviceSpecificData;
    } u;
} CM_PARTIAL_RESOURCE_DESCRIPTOR, *PCM_PARTIAL_RESOURCE_DESCRIPTOR;
#pragma pack(pop)

typedef struct _CM_PARTIAL_RESOURCE_LIST {
    USHORT Version;
    USHORT Revision;
    ULONG Count;
    CM_PARTIAL_RESOURCE_DESCRIPTOR PartialDescriptors[1];
} CM_PARTIAL_RESOURCE_LIST, *PCM_PARTIAL_RESOURCE_LIST;

typedef enum _INTERFACE_TYPE { Internal = 0, Isa = 1, PCIBus = 5, PNPBus = 15 } INTERFACE_TYPE;

typedef struct _CM_FULL_RESOURCE_DESCRIPTOR {
    INTERFACE_TYPE InterfaceType;
    ULONG BusNumber;
    CM_PARTIAL_RESOURCE_LIST PartialResourceList;
} CM_FULL_RESOURCE_DESCRIPTOR, *PCM_FULL_RESOURCE_DESCRIPTOR;

typedef struct _CM_RESOURCE_LIST {
    ULONG Count;
    CM_FULL_RESOURCE_DESCRIPTOR List[1];
} CM_RESOURCE_LIST, *PCM_RESOURCE_LIST;

#define CmResourceTypeNull 0
#define CmResourceTypePort 1
#define CmResourceTypeInterrupt 2
#define CmResourceTypeMemory 3
#define CmResourceTypeDma 4
#define CmResourceTypeDevicePrivate 0x81
#define CM_RESOURCE_PORT_MEMORY 0x0000
#define CM_RESOURCE_PORT_IO 0x0001
#define CM_RESOURCE_INTERRUPT_LEVEL_SENSITIVE 0x0000
#define CM_RESOURCE_INTERRUPT_LATCHED 0x0001
typedef enum _CM_SHARE_DISPOSITION {
    CmResourceShareUndetermined = 0,
    CmResourceShareDeviceExclusive = 1,
    CmResourceShareDriverExclusive = 2,
    CmResourceShareShared = 3
} CM_SHARE_DISPOSITION;

// ---------------------------------------------------------------------------
// Driver, device and file objects, requests.
struct _DRIVER_OBJECT;
struct _DEVICE_OBJECT;
struct _FILE_OBJECT;
struct _IO_STACK_LOCATION;

typedef NTSTATUS DRIVER_INITIALIZE(struct _DRIVER_OBJECT* DriverObject, PUNICODE_STRING RegistryPath);
typedef DRIVER_INITIALIZE* PDRIVER_INITIALIZE;
typedef NTSTATUS DRIVER_ADD_DEVICE(struct _DRIVER_OBJECT* DriverObject,
                                   struct _DEVICE_OBJECT* PhysicalDeviceObject);
typedef DRIVER_ADD_DEVICE* PDRIVER_ADD_DEVICE;
typedef VOID DRIVER_UNLOAD(struct _DRIVER_OBJECT* DriverObject);
typedef DRIVER_UNLOAD* PDRIVER_UNLOAD;
typedef NTSTATUS DRIVER_DISPATCH(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp);
typedef DRIVER_DISPATCH* PDRIVER_DISPATCH;
typedef NTSTATUS IO_COMPLETION_ROUTINE(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp,
                                       PVOID Context);
typedef IO_COMPLETION_ROUTINE* PIO_COMPLETION_ROUTINE;
typedef VOID DRIVER_CANCEL(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp);
typedef DRIVER_CANCEL* PDRIVER_CANCEL;
typedef VOID IO_DPC_ROUTINE(PKDPC Dpc, struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp,
                            PVOID Context);
typedef IO_DPC_ROUTINE* PIO_DPC_ROUTINE;

typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

#define IRP_MJ_CREATE 0x00
#define IRP_MJ_CREATE_NAMED_PIPE 0x01
#define IRP_MJ_CLOSE 0x02
#define IRP_MJ_READ 0x03
#define IRP_MJ_WRITE 0x04
#define IRP_MJ_QUERY_INFORMATION 0x05
#define IRP_MJ_SET_INFORMATION 0x06
#define IRP_MJ_FLUSH_BUFFERS 0x09
#define IRP_MJ_DEVICE_CONTROL 0x0e
#define IRP_MJ_INTERNAL_DEVICE_CONTROL 0x0f
#define IRP_MJ_SHUTDOWN 0x10
#define IRP_MJ_CLEANUP 0x12
#define IRP_MJ_POWER 0x16
#define IRP_MJ_SYSTEM_CONTROL 0x17
#define IRP_MJ_PNP 0x1b
#define IRP_MJ_MAXIMUM_FUNCTION 0x1b

#define IRP_MN_START_DEVICE 0x00
#define IRP_MN_QUERY_REMOVE_DEVICE 0x01
#define IRP_MN_REMOVE_DEVICE 0x02
#define IRP_MN_CANCEL_REMOVE_DEVICE 0x03
#define IRP_MN_STOP_DEVICE 0x04
#define IRP_MN_QUERY_STOP_DEVICE 0x05
#define IRP_MN_CANCEL_STOP_DEVICE 0x06
#define IRP_MN_QUERY_DEVICE_RELATIONS 0x07
#define IRP_MN_QUERY_INTERFACE 0x08
#define IRP_MN_QUERY_CAPABILITIES 0x09
#define IRP_MN_QUERY_RESOURCES 0x0A
#define IRP_MN_QUERY_RESOURCE_REQUIREMENTS 0x0B
#define IRP_MN_QUERY_DEVICE_TEXT 0x0C
#define IRP_MN_FILTER_RESOURCE_REQUIREMENTS 0x0D
#define IRP_MN_READ_CONFIG 0x0F
#define IRP_MN_WRITE_CONFIG 0x10
#define IRP_MN_EJECT 0x11
#define IRP_MN_SET_LOCK 0x12
#define IRP_MN_QUERY_ID 0x13
#define IRP_MN_QUERY_PNP_DEVICE_STATE 0x14
#define IRP_MN_QUERY_BUS_INFORMATION 0x15
#define IRP_MN_DEVICE_USAGE_NOTIFICATION 0x16
#define IRP_MN_SURPRISE_REMOVAL 0x17

// Stack location control bits.
#define SL_PENDING_RETURNED 0x01
#define SL_INVOKE_ON_CANCEL 0x20
#define SL_INVOKE_ON_SUCCESS 0x40
#define SL_INVOKE_ON_ERROR 0x80

typedef struct _IO_STACK_LOCATION {
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    UCHAR Flags;
    UCHAR Control;
    union {
        struct {
            PVOID SecurityContext;
            ULONG Options;
            USHORT FileAttributes;
            USHORT ShareAccess;
            ULONG EaLength;
        } Create;
        struct {
            ULONG Length;
            ULONG Key;
            LARGE_INTEGER ByteOffset;
        } Read;
        struct {
            ULONG Length;
            ULONG Key;
            LARGE_INTEGER ByteOffset;
        } Write;
        struct {
            ULONG OutputBufferLength;
            ULONG InputBufferLength;
            ULONG IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
        struct {
            PCM_RESOURCE_LIST AllocatedResources;
            PCM_RESOURCE_LIST AllocatedResourcesTranslated;
        } StartDevice;
        struct {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
    struct _DEVICE_OBJECT* DeviceObject;
    struct _FILE_OBJECT* FileObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    PVOID Context;
} IO_STACK_LOCATION, *PIO_STACK_LOCATION;

struct KvIrpPrivate;  // the stand-in I/O manager's record of a request

typedef struct _IRP {
    CSHORT Type;
    USHORT Size;
    PMDL MdlAddress;
    ULONG Flags;
    union {
        struct _IRP* MasterIrp;
        LONG IrpCount;
        PVOID SystemBuffer;
    } AssociatedIrp;
    IO_STATUS_BLOCK IoStatus;
    KPROCESSOR_MODE RequestorMode;
    BOOLEAN PendingReturned;
    CHAR StackCount;
    CHAR CurrentLocation;
    BOOLEAN Cancel;
    KIRQL CancelIrql;
    PDRIVER_CANCEL CancelRoutine;
    PIO_STATUS_BLOCK UserIosb;
    PKEVENT UserEvent;
    PVOID UserBuffer;
    struct {
        struct {
            PVOID DriverContext[4];
            PVOID Thread;
            PIO_STACK_LOCATION CurrentStackLocation;
            struct _FILE_OBJECT* OriginalFileObject;
        } Overlay;
    } Tail;
    KvIrpPrivate* IoManager;  // who completes the request at the top
} IRP, *PIRP;

#define DO_VERIFY_VOLUME 0x00000002
#define DO_BUFFERED_IO 0x00000004
#define DO_EXCLUSIVE 0x00000008
#define DO_DIRECT_IO 0x00000010
#define DO_DEVICE_INITIALIZING 0x00000080
#define DO_POWER_PAGABLE 0x00002000
#define DO_POWER_INRUSH 0x00004000

#define FILE_DEVICE_SECURE_OPEN 0x00000100
#define FILE_AUTOGENERATED_DEVICE_NAME 0x00000080

struct KvDeviceInfo;  // the stand-in kernel's record of a device object

typedef struct _DEVICE_OBJECT {
    CSHORT Type;
    USHORT Size;
    LONG ReferenceCount;
    struct _DRIVER_OBJECT* DriverObject;
    struct _DEVICE_OBJECT* NextDevice;
    struct _DEVICE_OBJECT* AttachedDevice;
    struct _IRP* CurrentIrp;
    ULONG Flags;
    ULONG Characteristics;
    PVOID DeviceExtension;  // zero-filled, 16-byte aligned
    DEVICE_TYPE DeviceType;
    CCHAR StackSize;
    KDPC Dpc;
    ULONG AlignmentRequirement;
    KvDeviceInfo* Info;
} DEVICE_OBJECT, *PDEVICE_OBJECT;

typedef struct _DRIVER_EXTENSION {
    struct _DRIVER_OBJECT* DriverObject;
    PDRIVER_ADD_DEVICE AddDevice;
    ULONG Count;
    UNICODE_STRING ServiceKeyName;
} DRIVER_EXTENSION, *PDRIVER_EXTENSION;

typedef struct _DRIVER_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject;  // the driver's devices, newest first
    ULONG Flags;
    PVOID DriverStart;
    ULONG DriverSize;
    PVOID DriverSection;
    PDRIVER_EXTENSION DriverExtension;
    UNICODE_STRING DriverName;
    PUNICODE_STRING HardwareDatabase;
    PVOID FastIoDispatch;
    PDRIVER_INITIALIZE DriverInit;
    PVOID DriverStartIo;
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
} DRIVER_OBJECT, *PDRIVER_OBJECT;

#define FO_SYNCHRONOUS_IO 0x00000002

typedef struct _FILE_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject;
    PVOID Vpb;
    PVOID FsContext;
    PVOID FsContext2;
    PVOID SectionObjectPointer;
    PVOID PrivateCacheMap;
    NTSTATUS FinalStatus;
    struct _FILE_OBJECT* RelatedFileObject;
    BOOLEAN LockOperation;
    BOOLEAN DeletePending;
    BOOLEAN ReadAccess;
    BOOLEAN WriteAccess;
    BOOLEAN DeleteAccess;
    BOOLEAN SharedRead;
    BOOLEAN SharedWrite;
    BOOLEAN SharedDelete;
    ULONG Flags;
    UNICODE_STRING FileName;  // the part of the open's path behind the device name
    LARGE_INTEGER CurrentByteOffset;
} FILE_OBJECT, *PFILE_OBJECT;

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP Irp)
{
    return Irp->Tail.Overlay.CurrentStackLocation;
}
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP Irp)
{
    return Irp->Tail.Overlay.CurrentStackLocation - 1;
}
inline VOID IoSkipCurrentIrpStackLocation(PIRP Irp)
{
    Irp->CurrentLocation++;
    Irp->Tail.Overlay.CurrentStackLocation++;
}
inline VOID IoCopyCurrentIrpStackLocationToNext(PIRP Irp)
{
    PIO_STACK_LOCATION cur = IoGetCurrentIrpStackLocation(Irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
    std::memcpy(next, cur, offsetof(IO_STACK_LOCATION, CompletionRoutine));
    next->Control = 0;
}
inline VOID IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine, PVOID Context,
                                   BOOLEAN InvokeOnSuccess, BOOLEAN InvokeOnError,
                                   BOOLEAN InvokeOnCancel)
{
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
    next->CompletionRoutine = CompletionRoutine;
    next->Context = Context;
    next->Control = 0;
    if (InvokeOnSuccess)
        next->Control |= SL_INVOKE_ON_SUCCESS;
    if (InvokeOnError)
        next->Control |= SL_INVOKE_ON_ERROR;
    if (InvokeOnCancel)
        next->Control |= SL_INVOKE_ON_CANCEL;
}
inline VOID IoMarkIrpPending(PIRP Irp) { IoGetCurrentIrpStackLocation(Irp)->Control |= SL_PENDING_RETURNED; }
inline PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine)
{
    return __atomic_exchange_n(&Irp->CancelRoutine, CancelRoutine, __ATOMIC_SEQ_CST);
}

NTKERNELAPI NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                                    PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                                    ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                                    PDEVICE_OBJECT* DeviceObject);
NTKERNELAPI VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject);
NTKERNELAPI NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName);
NTKERNELAPI NTSTATUS IoCreateUnprotectedSymbolicLink(PUNICODE_STRING SymbolicLinkName,
                                                     PUNICODE_STRING DeviceName);
NTKERNELAPI NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName);
NTKERNELAPI PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice,
                                                       PDEVICE_OBJECT TargetDevice);
NTKERNELAPI VOID IoDetachDevice(PDEVICE_OBJECT TargetDevice);
NTKERNELAPI PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT DeviceObject);
NTKERNELAPI PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT DeviceObject);
NTKERNELAPI VOID ObReferenceObject(PVOID Object);
NTKERNELAPI VOID ObDereferenceObject(PVOID Object);
#define ObfReferenceObject ObReferenceObject
#define ObfDereferenceObject ObDereferenceObject

NTKERNELAPI PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota);
NTKERNELAPI VOID IoFreeIrp(PIRP Irp);
NTKERNELAPI VOID IoReuseIrp(PIRP Irp, NTSTATUS Status);
// A request to DeviceObject's stack, completed by the I/O manager: the status
// goes to *IoStatusBlock, Event is set and the request is freed.
NTKERNELAPI PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject,
                                               PVOID InputBuffer, ULONG InputBufferLength,
                                               PVOID OutputBuffer, ULONG OutputBufferLength,
                                               BOOLEAN InternalDeviceIoControl, PKEVENT Event,
                                               PIO_STATUS_BLOCK IoStatusBlock);
NTKERNELAPI NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTKERNELAPI VOID IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost);
#define IoCallDriver(d, i) IofCallDriver((d), (i))
#define IoCompleteRequest(i, b) IofCompleteRequest((i), (b))
NTKERNELAPI BOOLEAN IoCancelIrp(PIRP Irp);
NTKERNELAPI VOID IoAcquireCancelSpinLock(PKIRQL Irql);
NTKERNELAPI VOID IoReleaseCancelSpinLock(KIRQL Irql);

NTKERNELAPI VOID IoInitializeDpcRequest(PDEVICE_OBJECT DeviceObject, PIO_DPC_ROUTINE DpcRoutine);
inline VOID IoRequestDpc(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context)
{
    KeInsertQueueDpc(&DeviceObject->Dpc, Irp, Context);
}

// A remove lock: the routines that use a device, and its removal, which
// waits for them. Drivers reach it only through the routines below.
typedef struct _IO_REMOVE_LOCK {
    BOOLEAN Removed;        // the removal has begun
    LONG volatile IoCount;  // the holders, and one more until the removal begins
    KEVENT RemoveEvent;     // set once the last holder of a removed lock left
} IO_REMOVE_LOCK, *PIO_REMOVE_LOCK;

NTKERNELAPI VOID IoInitializeRemoveLockEx(PIO_REMOVE_LOCK Lock, ULONG AllocateTag, ULONG MaxLockedMinutes,
                                          ULONG HighWatermark, ULONG RemlockSize);
// STATUS_SUCCESS, the caller holds the lock; STATUS_DELETE_PENDING once the
// removal has begun (IoReleaseRemoveLockAndWait), and the caller does not.
NTKERNELAPI NTSTATUS IoAcquireRemoveLockEx(PIO_REMOVE_LOCK RemoveLock, PVOID Tag, PCSTR File, ULONG Line,
                                           ULONG RemlockSize);
NTKERNELAPI VOID IoReleaseRemoveLockEx(PIO_REMOVE_LOCK RemoveLock, PVOID Tag, ULONG RemlockSize);
// By a holder, at PASSIVE_LEVEL, once: no acquire succeeds from here on, and
// it returns when every other holder has released the lock.
NTKERNELAPI VOID IoReleaseRemoveLockAndWaitEx(PIO_REMOVE_LOCK RemoveLock, PVOID Tag, ULONG RemlockSize);
#define IoInitializeRemoveLock(Lock, AllocateTag, MaxLockedMinutes, HighWatermark) \
    IoInitializeRemoveLockEx((Lock), (AllocateTag), (MaxLockedMinutes), (HighWatermark), sizeof(IO_REMOVE_LOCK))
#define IoAcquireRemoveLock(RemoveLock, Tag) \
    IoAcquireRemoveLockEx((RemoveLock), (Tag), __FILE__, __LINE__, sizeof(IO_REMOVE_LOCK))
#define IoReleaseRemoveLock(RemoveLock, Tag) IoReleaseRemoveLockEx((RemoveLock), (Tag), sizeof(IO_REMOVE_LOCK))
#define IoReleaseRemoveLockAndWait(RemoveLock, Tag) \
    IoReleaseRemoveLockAndWaitEx((RemoveLock), (Tag), sizeof(IO_REMOVE_LOCK))

// ---------------------------------------------------------------------------
// Registry and device properties.
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_ALL 0x10000000u

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

typedef enum _KEY_VALUE_INFORMATION_CLASS {
    KeyValueBasicInformation = 0,
    KeyValueFullInformation = 1,
    KeyValuePartialInformation = 2
} KEY_VALUE_INFORMATION_CLASS;

typedef struct _KEY_VALUE_PARTIAL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataLength;
    UCHAR Data[1];
} KEY_VALUE_PARTIAL_INFORMATION, *PKEY_VALUE_PARTIAL_INFORMATION;

typedef struct _KEY_VALUE_BASIC_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG NameLength;
    WCHAR Name[1];
} KEY_VALUE_BASIC_INFORMATION, *PKEY_VALUE_BASIC_INFORMATION;

typedef struct _KEY_VALUE_FULL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataOffset;
    ULONG DataLength;
    ULONG NameLength;
    WCHAR Name[1];
} KEY_VALUE_FULL_INFORMATION, *PKEY_VALUE_FULL_INFORMATION;

// Opens a key of the stand-in's registry by its full path
// (\Registry\Machine\...), or relative to RootDirectory.
NTKERNELAPI NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess,
                               POBJECT_ATTRIBUTES ObjectAttributes);
// A buffer too small for the fixed part gives STATUS_BUFFER_TOO_SMALL, one too
// small for the data STATUS_BUFFER_OVERFLOW (fixed part filled); *ResultLength
// is always the size needed.
NTKERNELAPI NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                                     KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                                     PVOID KeyValueInformation, ULONG Length, PULONG ResultLength);
NTKERNELAPI NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex,
                                   ULONG Type, PVOID Data, ULONG DataSize);
NTKERNELAPI NTSTATUS ZwClose(HANDLE Handle);

#define PLUGPLAY_REGKEY_DEVICE 1
#define PLUGPLAY_REGKEY_DRIVER 2
#define PLUGPLAY_REGKEY_CURRENT_HWPROFILE 4

NTKERNELAPI NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType,
                                             ACCESS_MASK DesiredAccess, PHANDLE DevInstRegKey);

typedef enum _DEVICE_REGISTRY_PROPERTY {
    DevicePropertyDeviceDescription = 0,
    DevicePropertyHardwareID = 1,
    DevicePropertyCompatibleIDs = 2,
    DevicePropertyBootConfiguration = 3,
    DevicePropertyBootConfigurationTranslated = 4,
    DevicePropertyClassName = 5,
    DevicePropertyClassGuid = 6,
    DevicePropertyDriverKeyName = 7,
    DevicePropertyManufacturer = 8,
    DevicePropertyFriendlyName = 9,
    DevicePropertyLocationInformation = 10,
    DevicePropertyPhysicalDeviceObjectName = 11,
    DevicePropertyBusTypeGuid = 12,
    DevicePropertyLegacyBusType = 13,
    DevicePropertyBusNumber = 14,
    DevicePropertyEnumeratorName = 15,
    DevicePropertyAddress = 16
} DEVICE_REGISTRY_PROPERTY;

// Text properties come as UTF-16 with their terminating zero; a buffer too
// small gives STATUS_BUFFER_TOO_SMALL with the size needed in *ResultLength.
NTKERNELAPI NTSTATUS IoGetDeviceProperty(PDEVICE_OBJECT DeviceObject,
                                         DEVICE_REGISTRY_PROPERTY DeviceProperty, ULONG BufferLength,
                                         PVOID PropertyBuffer, PULONG ResultLength);
