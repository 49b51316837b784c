/* What a client of ITVXDevice shares with the server besides the interface:
 * the records its VARIANT parameters point at, and the status codes the
 * methods report through their last parameter.  The layouts are fixed. */
#ifndef TALVIX_RECORDS_H
#define TALVIX_RECORDS_H

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define TALVIX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define TALVIX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Behind lpvDevice: one open handle and where to find its device. */
typedef struct DeviceRecord {
    HANDLE handle;        /* written by the Create methods, read by the others */
    GUID interfaceClass;  /* device-interface class to enumerate */
    uint32_t instance;    /* index of the interface within the class */
} DeviceRecord;

/* Behind lpvParam. */
typedef struct ParamRecord {
    uint8_t clientBytes[16];  /* the client's; never read */
    uint32_t byteCount;       /* bulk command length in bytes, sent as units of 4 */
    uint16_t statusSelector;  /* wValue of GetDeviceStatus's request */
    uint16_t index;           /* wIndex of the read, write and reset requests */
} ParamRecord;

/* Behind lpvCmd. */
typedef struct CmdRecord {
    uint32_t byteCount;       /* data phase length; also the debug request's stage */
    void* buffer;             /* at least byteCount bytes */
    uint16_t clientWord;      /* the client's; never read */
    uint16_t index;           /* wIndex of the debug request */
} CmdRecord;

TALVIX_STATIC_ASSERT(sizeof(DeviceRecord) == 24, "DeviceRecord size");
TALVIX_STATIC_ASSERT(offsetof(DeviceRecord, interfaceClass) == 4, "DeviceRecord.interfaceClass");
TALVIX_STATIC_ASSERT(offsetof(DeviceRecord, instance) == 20, "DeviceRecord.instance");
TALVIX_STATIC_ASSERT(sizeof(ParamRecord) == 24, "ParamRecord size");
TALVIX_STATIC_ASSERT(offsetof(ParamRecord, byteCount) == 16, "ParamRecord.byteCount");
TALVIX_STATIC_ASSERT(offsetof(ParamRecord, statusSelector) == 20, "ParamRecord.statusSelector");
TALVIX_STATIC_ASSERT(offsetof(ParamRecord, index) == 22, "ParamRecord.index");
TALVIX_STATIC_ASSERT(sizeof(CmdRecord) == 12, "CmdRecord size");
TALVIX_STATIC_ASSERT(offsetof(CmdRecord, buffer) == 4, "CmdRecord.buffer");
TALVIX_STATIC_ASSERT(offsetof(CmdRecord, index) == 10, "CmdRecord.index");

/* Status codes (lpStatus / lpResult); 0 is success.  ERROR_NOT_ENOUGH_MEMORY (8)
 * also occurs: the device path's detail data could not be allocated. */
#define R_NO_CLASS 0x80020000u
#define R_NOT_FOUND 0x80030000u
#define R_NO_MEMORY 0x80040000u
#define R_OPEN_FAILED 0x80060000u
#define R_IOCTL_FAILED 0x80070000u
#define R_IO_FAILED 0x80080000u
#define R_DEVICE_ERROR 0x800A0000u
#define R_CANCELLED 0x800B0000u
#define R_OLD_DRIVER 0x800C0000u

/* DeviceDetect and GetVersion mark a failure with this bit. */
#define R_DETECT_FAILED 0x80000000u

/* GetDriverVersion: reported when no version could be read, and the lowest
 * packed version accepted (an unsigned comparison of packed values). */
#define DRIVER_VERSION_FLOOR 0x05000101u
#define DRIVER_VERSION_MIN 0x05000102u

#ifdef __cplusplus
}
#endif
#endif
