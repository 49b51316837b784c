/* What the device model shares with its hosts and their tools: pipe numbers,
 * knobs, log records and defaults.  One layout in 32- and 64-bit code and in
 * every host (the virtual driver, the simulated devices, the Linux test bed),
 * since processes of both kinds exchange these records.  Plain C: a kernel
 * driver includes it. */
#ifndef DEVICEMODEL_MODEL_LAYOUT_H
#define DEVICEMODEL_MODEL_LAYOUT_H

#include "usb_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Pipes of a device: what an open, read or write record names. */
#define VDEV_PIPE_IN 0u      /* \PIPE0: bulk-in, ReadFile; endpoint 0x81 on USB */
#define VDEV_PIPE_OUT 1u     /* \PIPE1: bulk-out, WriteFile; endpoint 0x02 on USB */
#define VDEV_PIPE_CONTROL 2u /* the interface path itself; the device (endpoint 0) on USB */

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
