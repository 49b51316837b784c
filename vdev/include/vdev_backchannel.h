/* The virtual device's private control codes: the back channel that tests and
 * the vdevctl tool use to script the device model, and the bind request that
 * the test shim sends after opening a pipe.  The model's knobs, log records,
 * pipe numbers and defaults are devicemodel/model_layout.h.  Plain C: the
 * driver includes it. */
#ifndef VDEV_BACKCHANNEL_H
#define VDEV_BACKCHANNEL_H

#include "devicemodel/model_layout.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VDEV_CTL(fn) PROTO_CTL_CODE(PROTO_FILE_DEVICE_UNKNOWN, 0x900 + (fn), PROTO_METHOD_BUFFERED, PROTO_FILE_ANY_ACCESS)

/* Every instance also publishes an interface of this class, always enabled,
 * so that the back channel reaches an instance whatever its product class
 * and whether or not it is "plugged". {5C2B9B1E-3D47-4E0A-9F61-7A0B4C8D2E13} */
#define VDEV_BACKCHANNEL_CLASS_INIT \
    { 0x5C2B9B1Eu, 0x3D47u, 0x4E0Au, { 0x9F, 0x61, 0x7A, 0x0B, 0x4C, 0x8D, 0x2E, 0x13 } }

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

#ifdef __cplusplus
}
#endif
#endif
