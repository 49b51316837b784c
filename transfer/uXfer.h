/* uXfer.dll: device connection, vendor commands and chunked bulk transfers.
 * All exports use the Windows API calling convention and plain names.
 *
 * This header serves two builds: the 32-bit uXfer.dll for 32-bit programs and
 * the x86-64 uXfer.dll (with its own import library) for 64-bit programs; the
 * exports, TransferDesc (no pointers, so one layout), result codes and
 * behaviour are the same.  The two are separate images that share nothing with
 * each other: the delay, the instance index and the notification slot of the
 * shared section are shared among the processes of one bitness only. */
#ifndef UXFER_H
#define UXFER_H

#include <windows.h>
#include <stdint.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define UXFER_API __stdcall

/* Result codes. */
#define RESULT_OK 0x00000000u
#define RESULT_NO_MEMORY 0xC0000003u
#define RESULT_OPEN_FAILED 0xC0000004u
#define RESULT_IO_FAILED 0xC0000005u

/* Open flags of uCreate. */
#define OPEN_CONTROL 1u
#define OPEN_READ 2u   /* \PIPE0 */
#define OPEN_WRITE 4u  /* \PIPE1 */
#define OPEN_ALL (OPEN_CONTROL | OPEN_READ | OPEN_WRITE)

/* Progress message: WM_COPYDATA with this wParam; dwData = bytes of the chunk. */
#define XFER_PROGRESS_ID 2025u
#define XFER_CHUNK 65536u

/* Transfer descriptor, owned by the caller and only read by the library. */
typedef struct TransferDesc {
    uint32_t param0;
    uint32_t param1;
    uint32_t address;  /* bytes of host-side data; the device gets it halved */
    uint32_t length;   /* bytes over the pipe */
    uint32_t unitSize; /* length / unitSize is the unit count the device gets; read, write
                          and verify refuse 0 with RESULT_IO_FAILED, sending nothing */
    uint16_t cmdValue;
    uint16_t cmdIndex;
} TransferDesc;

#ifdef __cplusplus
static_assert(sizeof(TransferDesc) == 24, "TransferDesc is 24 bytes");
static_assert(offsetof(TransferDesc, cmdValue) == 20, "cmdValue offset");
static_assert(offsetof(TransferDesc, cmdIndex) == 22, "cmdIndex offset");
#else
_Static_assert(sizeof(TransferDesc) == 24, "TransferDesc is 24 bytes");
#endif

uint32_t UXFER_API uCreate(uint32_t flags);
uint32_t UXFER_API uClose(void);
uint32_t UXFER_API uXferRead(const TransferDesc *desc, void *buffer, uint32_t *count);
uint32_t UXFER_API uXferWrite(const TransferDesc *desc, const void *buffer, uint32_t *count);
uint32_t UXFER_API uXferVerify(const TransferDesc *desc, void *result4);
uint32_t UXFER_API uDebugReadCmd(const TransferDesc *desc, void *buffer, uint32_t *count);
uint32_t UXFER_API uDebugWriteCmd(const TransferDesc *desc, const void *buffer, uint32_t *count);
uint32_t UXFER_API uEnumeInstances(void);
uint32_t UXFER_API uGetStatus(void *status8, uint32_t *count);
uint32_t UXFER_API uRegDevNotify(HWND window);
uint32_t UXFER_API uUnRegDevNotify(void);
uint32_t UXFER_API uSetCancel(uint32_t resetCode);
uint32_t UXFER_API uSetDelay(uint32_t milliseconds);
uint32_t UXFER_API uSetInstance(uint32_t instance);
uint32_t UXFER_API uSetMsgFlag(uint32_t flag);
HWND UXFER_API uSetMsgWnd(HWND window);
uint32_t UXFER_API uSetKVVersion(uint32_t version);

#ifdef __cplusplus
}
#endif
#endif
