/* Device model of this family's USB device: word memory, the vendor requests,
 * the bulk data phase, scripted status and faults, and the receive log.  Its
 * hosts: the virtual driver, the simulated devices and the Linux test bed.
 * No I/O manager types here, so the rules read apart from IRP plumbing.
 *
 * The model allocates through ExAllocatePoolWithTag/ExFreePoolWithTag: a
 * kernel host has them from the kernel, user-mode hosts from the C heap
 * (the devicemodel target links that in for them). */
#ifndef DEVICEMODEL_MODEL_H
#define DEVICEMODEL_MODEL_H

#include "usb_protocol.h"
#include "devicemodel/model_layout.h"

#ifdef __cplusplus
extern "C" {
#endif

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

/* Memory is sparse, so that it can span the protocol's whole range (up to
 * 0xFFFFFFFE bytes, 0x7FFFFFFF words) at the cost of what was written: a table
 * of pages, each allocated at its first write; a page never written since the
 * last reset or resize reads as MODEL_FILL.  Pages this large come from virtual
 * memory and go back to the system when freed.  In a 32-bit driver host the
 * written pages share a 2 GiB address space with everything else: beyond
 * about 1.5 GiB written, writes fail for want of memory. */
#define MODEL_PAGE_SHIFT 20u
#define MODEL_PAGE_BYTES (1u << MODEL_PAGE_SHIFT)
#define MODEL_FILL 0x00u
PROTO_STATIC_ASSERT(MODEL_PAGE_BYTES == VDEV_MEMORY_PAGE_BYTES, "the page the back channel counts");

/* Where the pages live when not in the pool: a host that keeps memory
 * elsewhere (an image file) gives page `index` for reading (NULL: reads as the
 * fill) or, with `create`, ready to be written (NULL: no memory).  A pointer
 * it gives stays good until its next call.  `resize` forgets every page and
 * sets the memory's size. */
typedef struct ModelPageStore {
    uint8_t *(*page)(void *host, uint32_t index, int create);
    ModelStatus (*resize)(void *host, uint32_t bytes);
    void *host;
} ModelPageStore;

/* The fields up to `pages` hold the whole state apart from memory and log,
 * with one layout in 32- and 64-bit code: a host may keep them in a file that
 * processes of both kinds share (MODEL_STATE_BYTES). */
typedef struct DeviceModel {
    uint32_t instance;
    uint32_t pageCount;   /* entries of the table */
    uint32_t pagesWritten;
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

    uint32_t logNext;

    uint8_t **pages;      /* one entry a page; NULL: never written */
    VdevLogRecord *log;   /* VDEV_LOG_CAPACITY records */
    const ModelPageStore *store; /* NULL: pages from the pool */
} DeviceModel;
#define MODEL_STATE_BYTES offsetof(DeviceModel, pages)

ModelStatus ModelInit(DeviceModel *m, uint32_t instance);
/* The same over a host's pages and log, which outlive the model: no pool. */
ModelStatus ModelInitHosted(DeviceModel *m, uint32_t instance, const ModelPageStore *store, VdevLogRecord *log);
void ModelFree(DeviceModel *m);
/* Back to defaults; memory back to the fill (no page written), size kept. */
void ModelReset(DeviceModel *m);
/* Any even size up to 0xFFFFFFFE: only the page table is allocated. */
ModelStatus ModelResize(DeviceModel *m, uint32_t bytes);
/* The bytes [offset, offset + length) of memory, which must lie inside it
 * (MODEL_BAD_PARAMETER otherwise).  A write that finds no memory for a page
 * fails with MODEL_NO_MEMORY and changes no byte. */
ModelStatus ModelGetMemory(const DeviceModel *m, uint32_t offset, uint8_t *out, uint32_t length);
ModelStatus ModelSetMemory(DeviceModel *m, uint32_t offset, const uint8_t *data, uint32_t length);
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
/* Data movement of a pipe read/write that is allowed to proceed.  A write
 * that finds no memory for a page fails with MODEL_NO_MEMORY: no byte is
 * stored, *moved is 0 and the data phase stays where it was. */
uint32_t ModelPipeRead(DeviceModel *m, uint8_t *buffer, uint32_t size);
ModelStatus ModelPipeWrite(DeviceModel *m, const uint8_t *buffer, uint32_t size, uint32_t *moved);
/* Shortens a read of `size` if the short-read knob hits this read. */
uint32_t ModelReadLimit(DeviceModel *m, uint32_t size);

void ModelLog(DeviceModel *m, uint16_t type, uint16_t pipe, uint32_t a, uint32_t b, uint32_t c,
              const void *data, uint32_t dataLen, uint32_t inLen);
/* Copies records with seq >= first into out (room for `capacity`); returns the count. */
uint32_t ModelCopyLog(const DeviceModel *m, uint32_t first, VdevLogRecord *out, uint32_t capacity);

#ifdef __cplusplus
}
#endif

#endif
