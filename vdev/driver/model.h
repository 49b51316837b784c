/* Device model of the virtual USB device: word memory, the vendor requests,
 * the bulk data phase, scripted status and faults, and the receive log.
 * No I/O manager types here, so the rules read apart from IRP plumbing. */
#ifndef VDEV_MODEL_H
#define VDEV_MODEL_H

#include "usb_protocol.h"
#include "vdev_backchannel.h"

typedef int32_t ModelStatus; /* an NTSTATUS */
#define MODEL_OK 0
#define MODEL_FAILED ((ModelStatus)0xC0000001L)       /* STATUS_UNSUCCESSFUL */
#define MODEL_BAD_REQUEST ((ModelStatus)0xC0000010L)  /* STATUS_INVALID_DEVICE_REQUEST */
#define MODEL_BAD_PARAMETER ((ModelStatus)0xC000000DL) /* STATUS_INVALID_PARAMETER */
#define MODEL_NO_MEMORY ((ModelStatus)0xC000009AL)    /* STATUS_INSUFFICIENT_RESOURCES */
#define MODEL_CANCELLED ((ModelStatus)0xC0000120L)    /* STATUS_CANCELLED */

/* What the next pipe transfer belongs to. */
enum PhaseKind { PHASE_NONE, PHASE_MEMORY_IN, PHASE_MEMORY_OUT, PHASE_VERIFY, PHASE_DEBUG };

/* Outcome of the fault knobs for one pipe read. */
enum ReadPlan { READ_NORMAL, READ_FAIL, READ_HOLD };

#define DEBUG_BUFFER_BYTES 256u

typedef struct DeviceModel {
    uint32_t instance;
    uint8_t *memory;
    uint32_t memoryBytes;

    enum PhaseKind phase;
    uint32_t cursor;      /* byte offset in memory, or in the verify/debug buffer */
    uint32_t remaining;   /* bytes of the data phase still to move */
    int takenLatch;       /* the last command is reported taken at least once */
    int errorLatched;     /* STATUS_ERROR until a reset */
    uint8_t verify[4];
    uint8_t debugIn[DEBUG_BUFFER_BYTES];
    uint32_t debugInBytes;
    uint8_t statusTail[7];
    DriverState driverState;
    UsbDeviceDescriptor descriptor;

    /* Counters of what arrived since the last reset; knobs hold absolute targets. */
    uint32_t controls, reads, writes, polls, stateQueries;
    uint32_t opens[3]; /* per pipe: VDEV_PIPE_IN, VDEV_PIPE_OUT, VDEV_PIPE_CONTROL */
    uint32_t failControlAt, failReadAt, failWriteAt, shortReadAt, pendReadAt;
    uint32_t failOpenAt, failOpenPipe;
    uint32_t failStateAt, errorAtPoll;
    uint8_t failControlRequest;
    uint32_t shortReadBytes;
    uint32_t descriptorBytes;
    uint32_t statusReplyBytes;
    uint32_t activePolls, pendingPolls;

    VdevLogRecord *log;
    uint32_t logNext;
} DeviceModel;

ModelStatus ModelInit(DeviceModel *m, uint32_t instance);
void ModelFree(DeviceModel *m);
/* Back to defaults; memory zeroed, size kept. */
void ModelReset(DeviceModel *m);
ModelStatus ModelResize(DeviceModel *m, uint32_t bytes);
ModelStatus ModelKnob(DeviceModel *m, const VdevKnob *knob);

/* A product control request.  `in`/`out` are the caller's buffers; *moved is the
 * output byte count.  Logs the request with its outcome. */
ModelStatus ModelControl(DeviceModel *m, uint32_t code, const uint8_t *in, uint32_t inSize,
                         uint8_t *out, uint32_t outSize, uint32_t *moved);
/* Decides what a new pipe read meets (counts it). */
enum ReadPlan ModelPlanRead(DeviceModel *m);
/* Counts an open of a pipe; nonzero when it is to fail. */
int ModelOpenFails(DeviceModel *m, uint32_t pipe);
/* Counts a pipe write; nonzero when it is to fail. */
int ModelWriteFails(DeviceModel *m);
/* Data movement of a pipe read/write that is allowed to proceed. */
uint32_t ModelPipeRead(DeviceModel *m, uint8_t *buffer, uint32_t size);
uint32_t ModelPipeWrite(DeviceModel *m, const uint8_t *buffer, uint32_t size);
/* Shortens a read of `size` if the short-read knob hits this read. */
uint32_t ModelReadLimit(DeviceModel *m, uint32_t size);

void ModelLog(DeviceModel *m, uint16_t type, uint16_t pipe, uint32_t a, uint32_t b, uint32_t c,
              const void *data, uint32_t dataLen, uint32_t inLen);
/* Copies records with seq >= first into out (room for `capacity`); returns the count. */
uint32_t ModelCopyLog(const DeviceModel *m, uint32_t first, VdevLogRecord *out, uint32_t capacity);

#endif
