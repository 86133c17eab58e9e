// Device I/O control codes, shared by the user-mode and kernel-mode
// declarations: device type in bits 16-31, access in 14-15, function in 2-13,
// transfer method in 0-1.
#pragma once

#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))

#define DEVICE_TYPE_FROM_CTL_CODE(c) (((ULONG)(c) & 0xffff0000) >> 16)
#define METHOD_FROM_CTL_CODE(c) ((ULONG)((c) & 3))

#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3

#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002

#define FILE_DEVICE_UNKNOWN 0x00000022
#define FILE_DEVICE_BUS_EXTENDER 0x0000002a
#define FILE_DEVICE_USB FILE_DEVICE_UNKNOWN
