/* The virtual device's private control codes: the back channel that tests and
 * the vdevctl tool use to script the device model, and the bind request that
 * the test shim sends after opening a pipe.  Plain C: the driver includes it. */
#ifndef VDEV_BACKCHANNEL_H
#define VDEV_BACKCHANNEL_H

#include "usb_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VDEV_CTL(fn) PROTO_CTL_CODE(PROTO_FILE_DEVICE_UNKNOWN, 0x900 + (fn), PROTO_METHOD_BUFFERED, PROTO_FILE_ANY_ACCESS)

/* Every instance also publishes an interface of this class, always enabled,
 * so that the back channel reaches an instance whatever its product class
 * and whether or not it is "plugged". {5C2B9B1E-3D47-4E0A-9F61-7A0B4C8D2E13} */
#define VDEV_BACKCHANNEL_CLASS_INIT \
    { 0x5C2B9B1Eu, 0x3D47u, 0x4E0Au, { 0x9F, 0x61, 0x7A, 0x0B, 0x4C, 0x8D, 0x2E, 0x13 } }

/* Pipe a file object stands for. */
#define VDEV_PIPE_IN 0u      /* \PIPE0: bulk-in, ReadFile */
#define VDEV_PIPE_OUT 1u     /* \PIPE1: bulk-out, WriteFile */
#define VDEV_PIPE_CONTROL 2u /* the interface path itself */

/* Input of IOCTL_VDEV_BIND: which pipe this handle is, the path the program
 * asked for (zero-terminated, cut to fit), and the desired access and share
 * mode it asked for (the device takes the access from here where the platform
 * passes none with the create). */
typedef struct VdevBind {
    uint32_t pipe;
    char path[260];
    uint32_t access;
    uint32_t share;
} VdevBind;
PROTO_STATIC_ASSERT(sizeof(VdevBind) == 272, "bind record size");

/* Knobs: VdevKnob.id values.  "k" counts from the moment the knob is set, 1-based;
 * 0 turns the knob off. */
#define VDEV_KNOB_FAIL_CONTROL 1   /* value k: the k-th product control request fails; value2: bRequest filter (0: any) */
#define VDEV_KNOB_FAIL_READ 2      /* value k: the k-th pipe read fails */
#define VDEV_KNOB_FAIL_WRITE 3     /* value k: the k-th pipe write fails */
#define VDEV_KNOB_SHORT_READ 4     /* value k: the k-th pipe read moves only value2 bytes */
#define VDEV_KNOB_PEND_READ 5      /* value k: the k-th pipe read stays pending until released or reset */
#define VDEV_KNOB_ACTIVE_POLLS 6   /* value n: the next n status requests report STATUS_ACTIVE */
#define VDEV_KNOB_ERROR_AT_POLL 7  /* value k: from the k-th status request on, STATUS_ERROR until a reset */
#define VDEV_KNOB_PENDING_POLLS 8  /* value n: the next n driver-state requests report pending = 1 */
#define VDEV_KNOB_PLUGGED 9        /* value 0/1: product interface disabled/enabled */
#define VDEV_KNOB_MEMORY_BYTES 10  /* value: memory size in bytes (even, up to 0xFFFFFFFE); contents zeroed */
#define VDEV_KNOB_STATUS_BYTES 11  /* value: status bytes 1-4, value2: bytes 5-7 (little-endian) */
#define VDEV_KNOB_DESCRIPTOR 12    /* value: idVendor | idProduct << 16, value2: bcdDevice */
#define VDEV_KNOB_RELEASE_READ 13  /* complete the pending read as if nothing had held it */
#define VDEV_KNOB_FAIL_DRIVER_STATE 14 /* value k: the k-th driver-state request fails */
#define VDEV_KNOB_FAIL_OPEN 15     /* value k: the k-th open of pipe value2 (VDEV_PIPE_IN or VDEV_PIPE_OUT) fails */
#define VDEV_KNOB_DESCRIPTOR_BYTES 24  /* value n: descriptor replies move only their first n bytes (0: all) */
#define VDEV_KNOB_STATUS_REPLY_BYTES 25 /* value n: status replies move only their first n bytes (0: all) */

/* Every knob by name, with the values it takes, for tools that take names:
 * X(NAME, "values") for each VDEV_KNOB_NAME above. */
#define VDEV_KNOB_NAMES(X)                      \
    X(FAIL_CONTROL, "k [bRequest]")             \
    X(FAIL_READ, "k")                           \
    X(FAIL_WRITE, "k")                          \
    X(SHORT_READ, "k bytes")                    \
    X(PEND_READ, "k")                           \
    X(ACTIVE_POLLS, "n")                        \
    X(ERROR_AT_POLL, "k")                       \
    X(PENDING_POLLS, "n")                       \
    X(PLUGGED, "0|1")                           \
    X(MEMORY_BYTES, "bytes")                    \
    X(STATUS_BYTES, "bytes1-4 bytes5-7")        \
    X(DESCRIPTOR, "vid|pid<<16 bcd")            \
    X(RELEASE_READ, "any")                       \
    X(FAIL_DRIVER_STATE, "k")                   \
    X(FAIL_OPEN, "k pipe")                      \
    X(DESCRIPTOR_BYTES, "n")                    \
    X(STATUS_REPLY_BYTES, "n")

typedef struct VdevKnob {
    uint32_t id;
    uint32_t value;
    uint32_t value2;
} VdevKnob;

/* Output of IOCTL_VDEV_INFO. */
typedef struct VdevInfo {
    uint32_t instance;       /* n of ROOT\VDEV\000n */
    uint32_t memoryBytes;
    uint32_t plugged;
    uint32_t readPending;    /* a pipe read is being held */
    uint32_t active;         /* a data phase is in progress */
    uint32_t statusPolls;    /* status requests seen since the last reset */
    uint32_t logNext;        /* sequence number the next log record gets */
    uint32_t openHandles;
    uint8_t interfaceClass[16];
    char interfacePath[260]; /* symbolic link of the product interface */
    uint32_t memoryPagesWritten; /* pages of VDEV_MEMORY_PAGE_BYTES that memory holds; the rest reads 0 */
} VdevInfo;

/* Log records.  Type-specific fields:
 *   OPEN     pipe; a = desired access, b = share mode, c = NTSTATUS (a refused open
 *            is logged and never closed); data = path as bound (or the file
 *            name the platform passed)
 *   CLOSE    pipe
 *   CONTROL  a = control code, b = output length, c = NTSTATUS;
 *            data = input buffer, then the output data stage (after completion)
 *            dataLen counts both; inLen gives the input part
 *   READ     pipe; a = requested, b = moved, c = NTSTATUS; data = first bytes moved
 *   WRITE    pipe; a = requested (0: packet-boundary marker), b = moved, c = NTSTATUS; data = first bytes
 *   RESET    a = wIndex of REQ_RESET, b = 1 when a held read was dropped */
#define VDEV_LOG_OPEN 1u
#define VDEV_LOG_CLOSE 2u
#define VDEV_LOG_CONTROL 3u
#define VDEV_LOG_READ 4u
#define VDEV_LOG_WRITE 5u
#define VDEV_LOG_RESET 6u

#define VDEV_LOG_DATA 96u
typedef struct VdevLogRecord {
    uint32_t seq;
    uint16_t type;
    uint16_t pipe;
    uint32_t a, b, c;
    uint16_t dataLen;
    uint16_t inLen;
    uint8_t data[VDEV_LOG_DATA];
} VdevLogRecord;
PROTO_STATIC_ASSERT(sizeof(VdevLogRecord) == 120, "log record size");

typedef struct VdevMemRange {
    uint32_t byteOffset;
    uint32_t length;
} VdevMemRange;

#define IOCTL_VDEV_BIND VDEV_CTL(0)     /* in: VdevBind */
#define IOCTL_VDEV_RESET VDEV_CTL(1)    /* no buffers: state, knobs, log, memory, descriptor to defaults */
#define IOCTL_VDEV_KNOB VDEV_CTL(2)     /* in: VdevKnob */
#define IOCTL_VDEV_INFO VDEV_CTL(3)     /* out: VdevInfo */
#define IOCTL_VDEV_MEM_WRITE VDEV_CTL(4) /* in: VdevMemRange (length ignored) followed by the bytes */
#define IOCTL_VDEV_MEM_READ VDEV_CTL(5) /* in: VdevMemRange, out: the bytes */
#define IOCTL_VDEV_LOG VDEV_CTL(6)      /* in: uint32 first sequence number wanted, out: records */
#define IOCTL_VDEV_SET_CLASS VDEV_CTL(7) /* in: 16-byte GUID; re-publishes the product interface */
#define IOCTL_VDEV_SET_DRIVER_STATE VDEV_CTL(8) /* in: DriverState */
#define IOCTL_VDEV_SET_DEBUG_IN VDEV_CTL(9) /* in: bytes a debug read delivers */

/* Device model defaults.  Memory is sparse: a page takes room once written. */
#define VDEV_DEFAULT_MEMORY_BYTES (4u * 1024u * 1024u)
#define VDEV_MAX_MEMORY_BYTES 0xFFFFFFFEu
#define VDEV_MEMORY_PAGE_BYTES (1u << 20)
#define VDEV_DEFAULT_ID_VENDOR 0xF055u
#define VDEV_DEFAULT_ID_PRODUCT 0xCD03u
#define VDEV_DEFAULT_BCD_DEVICE 0x0412u
#define VDEV_LOG_CAPACITY 8192u

#ifdef __cplusplus
}
#endif
#endif
