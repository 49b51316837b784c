/* Device model of this family's USB device.
 *
 * Memory is an array of 16-bit words kept as little-endian bytes, in pages
 * taken at their first write (model.h); the host addresses it in words.  The count word of REQ_READ and REQ_WRITE is in units
 * of 4 bytes on the pipe (two words), so a count of n opens a data phase of
 * 4 * n bytes at the given word address.  STATUS_ACTIVE is set while a data
 * phase has bytes left, and also for the first status request after any
 * command was taken, so that a command with an empty data phase is still seen
 * as taken.  A pipe transfer that starts inside a data phase runs in full at
 * consecutive addresses, even past the phase's end; a transfer that starts
 * with no data phase moves nothing: a read returns 0 bytes, a write's bytes
 * are dropped.  Reads past the end of memory give 0xFF, writes there are lost.
 *
 * REQ_DEBUG with an 8-byte stage (word address, count) asks for a 4-byte
 * verification value, the 32-bit sum of the 16-bit words in [address,
 * address + 2 * count), which the next read delivers.  With a 4-byte stage
 * (length) the next transfer is a debug read of `length` bytes from the
 * debug-in buffer or a debug write whose bytes are only logged. */
#include "devicemodel/model.h"

#include <string.h>

#include "pool.h"

#define POOL_NONPAGED 0
#define POOL_TAG 0x76656476u /* 'vdev' */

static void *PoolAlloc(size_t size)
{
    return ExAllocatePoolWithTag(POOL_NONPAGED, size, POOL_TAG);
}

static void PoolFree(void *block)
{
    if (block)
        ExFreePoolWithTag(block, POOL_TAG);
}

static void SetDefaultDescriptor(UsbDeviceDescriptor *d)
{
    memset(d, 0, sizeof *d);
    d->bLength = sizeof *d;
    d->bDescriptorType = 1;
    d->bcdUSB = 0x0200;
    d->bDeviceClass = 0xFF;
    d->bMaxPacketSize0 = 64;
    d->idVendor = VDEV_DEFAULT_ID_VENDOR;
    d->idProduct = VDEV_DEFAULT_ID_PRODUCT;
    d->bcdDevice = VDEV_DEFAULT_BCD_DEVICE;
    d->bNumConfigurations = 1;
}

static void FreePages(DeviceModel *m)
{
    uint32_t i;
    if (m->store) {
        m->store->resize(m->store->host, m->memoryBytes);
        return;
    }
    for (i = 0; i < m->pageCount && m->pagesWritten; ++i)
        if (m->pages[i]) {
            PoolFree(m->pages[i]);
            m->pages[i] = 0;
            --m->pagesWritten;
        }
}

static void EndPhase(DeviceModel *m)
{
    m->phase = PHASE_NONE;
    m->cursor = 0;
    m->remaining = 0;
}

void ModelReset(DeviceModel *m)
{
    uint32_t i;
    EndPhase(m);
    m->takenLatch = 0;
    m->errorLatched = 0;
    memset(m->verify, 0, sizeof m->verify);
    for (i = 0; i < DEBUG_BUFFER_BYTES; ++i)
        m->debugIn[i] = (uint8_t)i;
    m->debugInBytes = DEBUG_BUFFER_BYTES;
    memset(m->statusTail, 0, sizeof m->statusTail);
    memset(&m->driverState, 0, sizeof m->driverState);
    SetDefaultDescriptor(&m->descriptor);
    m->controls = m->reads = m->writes = m->polls = m->stateQueries = 0;
    memset(m->opens, 0, sizeof m->opens);
    m->failControlAt = m->failReadAt = m->failWriteAt = m->shortReadAt = m->pendReadAt = 0;
    m->failOpenAt = m->failOpenPipe = 0;
    m->failStateAt = m->errorAtPoll = 0;
    m->failControlRequest = 0;
    m->shortReadBytes = 0;
    m->descriptorBytes = 0;
    m->statusReplyBytes = 0;
    m->activePolls = m->pendingPolls = 0;
    m->logNext = 0;
    FreePages(m);
}

/* Page `index` to read (NULL: never written). */
static const uint8_t *PageToRead(const DeviceModel *m, uint32_t index)
{
    return m->store ? m->store->page(m->store->host, index, 0) : m->pages[index];
}

/* Page `index` to write, had at its first write (NULL: no memory). */
static uint8_t *PageToWrite(DeviceModel *m, uint32_t index)
{
    if (m->store)
        return m->store->page(m->store->host, index, 1);
    if (!m->pages[index]) {
        m->pages[index] = PoolAlloc(MODEL_PAGE_BYTES);
        if (!m->pages[index])
            return 0;
        memset(m->pages[index], MODEL_FILL, MODEL_PAGE_BYTES);
        ++m->pagesWritten;
    }
    return m->pages[index];
}

ModelStatus ModelInit(DeviceModel *m, uint32_t instance)
{
    memset(m, 0, sizeof *m);
    m->instance = instance;
    m->log = PoolAlloc(sizeof(VdevLogRecord) * VDEV_LOG_CAPACITY);
    if (!m->log)
        return MODEL_NO_MEMORY;
    if (ModelResize(m, VDEV_DEFAULT_MEMORY_BYTES) != MODEL_OK) {
        ModelFree(m);
        return MODEL_NO_MEMORY;
    }
    ModelReset(m);
    return MODEL_OK;
}

ModelStatus ModelInitHosted(DeviceModel *m, uint32_t instance, const ModelPageStore *store, VdevLogRecord *log)
{
    ModelStatus status;
    memset(m, 0, sizeof *m);
    m->instance = instance;
    m->store = store;
    m->log = log;
    status = ModelResize(m, VDEV_DEFAULT_MEMORY_BYTES);
    if (status == MODEL_OK)
        ModelReset(m);
    return status;
}

void ModelFree(DeviceModel *m)
{
    if (m->store)
        return; /* the host's pages and log */
    FreePages(m);
    PoolFree(m->pages);
    PoolFree(m->log);
    m->pages = 0;
    m->pageCount = 0;
    m->log = 0;
}

ModelStatus ModelResize(DeviceModel *m, uint32_t bytes)
{
    uint8_t **pages;
    uint32_t count = (bytes >> MODEL_PAGE_SHIFT) + ((bytes & (MODEL_PAGE_BYTES - 1u)) != 0);
    if (bytes == 0 || (bytes & 1u))
        return MODEL_BAD_PARAMETER;
    if (m->store) {
        ModelStatus status = m->store->resize(m->store->host, bytes);
        if (status != MODEL_OK)
            return status;
        m->pageCount = count;
        m->memoryBytes = bytes;
        EndPhase(m);
        return MODEL_OK;
    }
    pages = PoolAlloc(count * sizeof *pages);
    if (!pages)
        return MODEL_NO_MEMORY;
    memset(pages, 0, count * sizeof *pages);
    FreePages(m);
    PoolFree(m->pages);
    m->pages = pages;
    m->pageCount = count;
    m->memoryBytes = bytes;
    EndPhase(m);
    return MODEL_OK;
}

/* Bytes from `at` (inside memory) up to `length` that lie in one page. */
static uint32_t RunLength(const DeviceModel *m, uint32_t at, uint32_t length)
{
    uint32_t inPage = MODEL_PAGE_BYTES - (at & (MODEL_PAGE_BYTES - 1u));
    uint32_t inMemory = m->memoryBytes - at;
    if (length > inPage)
        length = inPage;
    return length < inMemory ? length : inMemory;
}

/* Memory from byte `at` on; what lies past its end reads 0xFF. */
static void CopyOut(const DeviceModel *m, uint64_t at, uint8_t *out, uint32_t length)
{
    while (length) {
        const uint8_t *page;
        uint32_t n;
        if (at >= m->memoryBytes) {
            memset(out, 0xFF, length);
            return;
        }
        n = RunLength(m, (uint32_t)at, length);
        page = PageToRead(m, (uint32_t)(at >> MODEL_PAGE_SHIFT));
        if (page)
            memcpy(out, page + (at & (MODEL_PAGE_BYTES - 1u)), n);
        else
            memset(out, MODEL_FILL, n);
        out += n;
        at += n;
        length -= n;
    }
}

/* Stores bytes from `at` on; what lies past the end of memory is lost.  Every
 * page the bytes reach is had first, so that a failure changes nothing. */
static ModelStatus CopyIn(DeviceModel *m, uint64_t at, const uint8_t *data, uint32_t length)
{
    uint64_t end = at + length;
    uint32_t first, last, i;
    if (end > m->memoryBytes)
        end = m->memoryBytes;
    if (at >= end)
        return MODEL_OK;
    first = (uint32_t)(at >> MODEL_PAGE_SHIFT);
    last = (uint32_t)((end - 1u) >> MODEL_PAGE_SHIFT);
    for (i = first; i <= last; ++i)
        if (!PageToWrite(m, i))
            return MODEL_NO_MEMORY;
    while (at < end) {
        uint32_t n = RunLength(m, (uint32_t)at, (uint32_t)(end - at));
        uint8_t *page = PageToWrite(m, (uint32_t)(at >> MODEL_PAGE_SHIFT));
        if (!page)
            return MODEL_NO_MEMORY;
        memcpy(page + (at & (MODEL_PAGE_BYTES - 1u)), data, n);
        data += n;
        at += n;
    }
    return MODEL_OK;
}

static int InsideMemory(const DeviceModel *m, uint32_t offset, uint32_t length)
{
    return offset <= m->memoryBytes && length <= m->memoryBytes - offset;
}

ModelStatus ModelGetMemory(const DeviceModel *m, uint32_t offset, uint8_t *out, uint32_t length)
{
    if (!InsideMemory(m, offset, length))
        return MODEL_BAD_PARAMETER;
    CopyOut(m, offset, out, length);
    return MODEL_OK;
}

ModelStatus ModelSetMemory(DeviceModel *m, uint32_t offset, const uint8_t *data, uint32_t length)
{
    if (!InsideMemory(m, offset, length))
        return MODEL_BAD_PARAMETER;
    return CopyIn(m, offset, data, length);
}

/* Knob targets count from now: "the k-th read" is reads + k. */
static uint32_t Target(uint32_t counter, uint32_t k)
{
    return k ? counter + k : 0;
}

ModelStatus ModelKnob(DeviceModel *m, const VdevKnob *knob)
{
    switch (knob->id) {
    case VDEV_KNOB_FAIL_CONTROL:
        m->failControlAt = Target(m->controls, knob->value);
        m->failControlRequest = (uint8_t)knob->value2;
        return MODEL_OK;
    case VDEV_KNOB_FAIL_READ:
        m->failReadAt = Target(m->reads, knob->value);
        return MODEL_OK;
    case VDEV_KNOB_FAIL_WRITE:
        m->failWriteAt = Target(m->writes, knob->value);
        return MODEL_OK;
    case VDEV_KNOB_SHORT_READ:
        m->shortReadAt = Target(m->reads, knob->value);
        m->shortReadBytes = knob->value2;
        return MODEL_OK;
    case VDEV_KNOB_PEND_READ:
        m->pendReadAt = Target(m->reads, knob->value);
        return MODEL_OK;
    case VDEV_KNOB_ACTIVE_POLLS:
        m->activePolls = knob->value;
        return MODEL_OK;
    case VDEV_KNOB_ERROR_AT_POLL:
        m->errorAtPoll = Target(m->polls, knob->value);
        if (!knob->value)
            m->errorLatched = 0;
        return MODEL_OK;
    case VDEV_KNOB_PENDING_POLLS:
        m->pendingPolls = knob->value;
        return MODEL_OK;
    case VDEV_KNOB_FAIL_OPEN:
        if (knob->value2 != VDEV_PIPE_IN && knob->value2 != VDEV_PIPE_OUT)
            return MODEL_BAD_PARAMETER;
        m->failOpenPipe = knob->value2;
        m->failOpenAt = Target(m->opens[knob->value2], knob->value);
        return MODEL_OK;
    case VDEV_KNOB_FAIL_DRIVER_STATE:
        m->failStateAt = Target(m->stateQueries, knob->value);
        return MODEL_OK;
    case VDEV_KNOB_MEMORY_BYTES:
        return ModelResize(m, knob->value);
    case VDEV_KNOB_STATUS_BYTES:
        memcpy(m->statusTail, &knob->value, 4);
        memcpy(m->statusTail + 4, &knob->value2, 3);
        return MODEL_OK;
    case VDEV_KNOB_DESCRIPTOR:
        m->descriptor.idVendor = (uint16_t)knob->value;
        m->descriptor.idProduct = (uint16_t)(knob->value >> 16);
        m->descriptor.bcdDevice = (uint16_t)knob->value2;
        return MODEL_OK;
    case VDEV_KNOB_DESCRIPTOR_BYTES:
        if (knob->value > sizeof m->descriptor)
            return MODEL_BAD_PARAMETER;
        m->descriptorBytes = knob->value;
        return MODEL_OK;
    case VDEV_KNOB_STATUS_REPLY_BYTES:
        if (knob->value > STATUS_STAGE_SIZE)
            return MODEL_BAD_PARAMETER;
        m->statusReplyBytes = knob->value;
        return MODEL_OK;
    default:
        return MODEL_BAD_PARAMETER;
    }
}

void ModelLog(DeviceModel *m, uint16_t type, uint16_t pipe, uint32_t a, uint32_t b, uint32_t c,
              const void *data, uint32_t dataLen, uint32_t inLen)
{
    VdevLogRecord *r = &m->log[m->logNext % VDEV_LOG_CAPACITY];
    memset(r, 0, sizeof *r);
    r->seq = m->logNext++;
    r->type = type;
    r->pipe = pipe;
    r->a = a;
    r->b = b;
    r->c = (uint32_t)c;
    if (dataLen > VDEV_LOG_DATA)
        dataLen = VDEV_LOG_DATA;
    if (inLen > dataLen)
        inLen = dataLen;
    r->dataLen = (uint16_t)dataLen;
    r->inLen = (uint16_t)inLen;
    if (data && dataLen)
        memcpy(r->data, data, dataLen);
}

uint32_t ModelCopyLog(const DeviceModel *m, uint32_t first, VdevLogRecord *out, uint32_t capacity)
{
    uint32_t oldest = m->logNext > VDEV_LOG_CAPACITY ? m->logNext - VDEV_LOG_CAPACITY : 0;
    uint32_t seq = first > oldest ? first : oldest;
    uint32_t n = 0;
    for (; seq < m->logNext && n < capacity; ++seq, ++n)
        out[n] = m->log[seq % VDEV_LOG_CAPACITY];
    return n;
}

/* The 32-bit sum of `count` words from word `first` on, the word address
 * wrapping as a 32-bit number does; words past the end of memory are 0xFFFF.
 * A page never written adds its fill without being looked at word by word. */
static uint32_t SumWords(const DeviceModel *m, uint32_t first, uint32_t count)
{
    uint32_t sum = 0;
    while (count) {
        uint64_t at = (uint64_t)first * 2u, beforeWrap = 0x100000000ull - first;
        uint32_t n = count < beforeWrap ? count : (uint32_t)beforeWrap, i;
        const uint8_t *page;
        if (at >= m->memoryBytes) {
            sum += n * 0xFFFFu;
        } else {
            n = RunLength(m, (uint32_t)at, n < 0x80000000u ? n * 2u : 0xFFFFFFFEu) / 2u;
            page = PageToRead(m, (uint32_t)(at >> MODEL_PAGE_SHIFT));
            if (!page) {
                sum += n * (MODEL_FILL | (MODEL_FILL << 8));
            } else {
                page += at & (MODEL_PAGE_BYTES - 1u);
                for (i = 0; i < n; ++i)
                    sum += (uint32_t)(page[2 * i] | (page[2 * i + 1] << 8));
            }
        }
        first += n;
        count -= n;
    }
    return sum;
}

static void StartPhase(DeviceModel *m, enum PhaseKind kind, uint32_t cursor, uint32_t bytes)
{
    m->phase = kind;
    m->cursor = cursor;
    m->remaining = bytes;
    m->takenLatch = 1;
}

static void BuildStatus(DeviceModel *m, uint8_t *out)
{
    int active = m->remaining > 0 || m->takenLatch;
    ++m->polls;
    if (m->activePolls) {
        --m->activePolls;
        active = 1;
    }
    if (m->errorAtPoll && m->polls >= m->errorAtPoll) {
        m->errorLatched = 1;
        m->errorAtPoll = 0;
    }
    m->takenLatch = 0;
    out[0] = (uint8_t)((active ? STATUS_ACTIVE : 0) | (m->errorLatched ? STATUS_ERROR : 0));
    memcpy(out + 1, m->statusTail, sizeof m->statusTail);
}

/* Runs one vendor request on the model; `stage` is the data stage (both directions). */
static ModelStatus VendorRequest(DeviceModel *m, const VendorCommandBlock *b, uint8_t *stage,
                                 uint32_t stageSize, uint32_t *moved)
{
    *moved = 0;
    if (b->requestType != VENDOR_REQUEST_TYPE || b->recipient != VENDOR_RECIPIENT_DEVICE)
        return MODEL_BAD_REQUEST;
    if (b->wLength != stageSize)
        return MODEL_BAD_PARAMETER;
    switch (b->bRequest) {
    case REQ_READ:
    case REQ_WRITE: {
        uint32_t words = b->bRequest == REQ_READ ? READ_STAGE_SIZE : WRITE_STAGE_SIZE;
        if (b->direction != VENDOR_HOST_TO_DEVICE || stageSize != words)
            return MODEL_BAD_PARAMETER;
        words /= 4u; /* address and count are the last two words */
        StartPhase(m, b->bRequest == REQ_READ ? PHASE_MEMORY_IN : PHASE_MEMORY_OUT,
                   StageGetWord(stage, words - 2) * 2u, StageGetWord(stage, words - 1) * 4u);
        *moved = stageSize;
        return MODEL_OK;
    }
    case REQ_STATUS:
        if (b->direction != VENDOR_DEVICE_TO_HOST || stageSize != STATUS_STAGE_SIZE)
            return MODEL_BAD_PARAMETER;
        BuildStatus(m, stage);
        *moved = m->statusReplyBytes ? m->statusReplyBytes : STATUS_STAGE_SIZE;
        return MODEL_OK;
    case REQ_RESET:
        if (stageSize != 0)
            return MODEL_BAD_PARAMETER;
        EndPhase(m);
        m->takenLatch = 0;
        m->errorLatched = 0;
        return MODEL_OK;
    case REQ_DEBUG:
        if (b->direction != VENDOR_HOST_TO_DEVICE)
            return MODEL_BAD_PARAMETER;
        if (stageSize == VERIFY_STAGE_SIZE) {
            StagePutWord(m->verify, 0, SumWords(m, StageGetWord(stage, 0), StageGetWord(stage, 1) * 2u));
            StartPhase(m, PHASE_VERIFY, 0, 4);
        } else if (stageSize == DEBUG_STAGE_SIZE) {
            StartPhase(m, PHASE_DEBUG, 0, StageGetWord(stage, 0));
        } else {
            return MODEL_BAD_PARAMETER;
        }
        *moved = stageSize;
        return MODEL_OK;
    default:
        return MODEL_BAD_REQUEST;
    }
}

static int FaultHits(uint32_t *target, uint32_t counter)
{
    if (*target && counter == *target) {
        *target = 0;
        return 1;
    }
    return 0;
}

ModelStatus ModelControl(DeviceModel *m, uint32_t code, const uint8_t *in, uint32_t inSize,
                         uint8_t *out, uint32_t outSize, uint32_t *moved)
{
    uint8_t record[12 + 64];
    uint32_t recordIn = inSize < 12 ? inSize : 12, recordLen;
    ModelStatus status;
    VendorCommandBlock block;

    *moved = 0;
    memset(record, 0, sizeof record);
    if (in && recordIn)
        memcpy(record, in, recordIn);

    if (code == IOCTL_VENDOR_REQUEST) {
        ++m->controls;
        if (inSize != sizeof block) {
            status = MODEL_BAD_PARAMETER;
        } else {
            memcpy(&block, in, sizeof block);
            if (m->failControlAt && m->controls == m->failControlAt &&
                (!m->failControlRequest || m->failControlRequest == block.bRequest)) {
                m->failControlAt = 0;
                status = MODEL_FAILED;
            } else if (m->failControlAt && m->controls == m->failControlAt) {
                ++m->failControlAt; /* filtered: wait for a matching request */
                status = VendorRequest(m, &block, out, out ? outSize : 0, moved);
            } else {
                status = VendorRequest(m, &block, out, out ? outSize : 0, moved);
            }
        }
    } else if (code == IOCTL_DRIVER_STATE) {
        ++m->stateQueries;
        if (outSize < sizeof(DriverState) || !out) {
            status = MODEL_BAD_PARAMETER;
        } else if (FaultHits(&m->failStateAt, m->stateQueries)) {
            status = MODEL_FAILED;
        } else {
            DriverState state = m->driverState;
            if (m->pendingPolls) {
                --m->pendingPolls;
                state.pending = 1;
            }
            memcpy(out, &state, sizeof state);
            *moved = sizeof state;
            status = MODEL_OK;
        }
    } else if (code == IOCTL_GET_DEVICE_DESCRIPTOR) {
        if (outSize < sizeof(UsbDeviceDescriptor) || !out) {
            status = MODEL_BAD_PARAMETER;
        } else {
            memcpy(out, &m->descriptor, sizeof m->descriptor);
            *moved = m->descriptorBytes ? m->descriptorBytes : sizeof m->descriptor;
            status = MODEL_OK;
        }
    } else {
        status = MODEL_BAD_REQUEST;
    }

    /* The data stage as it stands after the request: what the host sent for an
     * OUT request, what the device answered for an IN request. */
    recordLen = recordIn;
    if (out && outSize) {
        uint32_t n = outSize < 64 ? outSize : 64;
        memcpy(record + recordIn, out, n);
        recordLen += n;
    }
    ModelLog(m, VDEV_LOG_CONTROL, VDEV_PIPE_CONTROL, code, outSize, (uint32_t)status, record, recordLen, recordIn);
    return status;
}

enum ReadPlan ModelPlanRead(DeviceModel *m)
{
    ++m->reads;
    if (FaultHits(&m->failReadAt, m->reads))
        return READ_FAIL;
    if (FaultHits(&m->pendReadAt, m->reads))
        return READ_HOLD;
    return READ_NORMAL;
}

uint32_t ModelReadLimit(DeviceModel *m, uint32_t size)
{
    if (FaultHits(&m->shortReadAt, m->reads) && m->shortReadBytes < size)
        return m->shortReadBytes;
    return size;
}

int ModelOpenFails(DeviceModel *m, uint32_t pipe)
{
    if (pipe > VDEV_PIPE_CONTROL)
        return 0;
    ++m->opens[pipe];
    return pipe == m->failOpenPipe && FaultHits(&m->failOpenAt, m->opens[pipe]);
}

int ModelWriteFails(DeviceModel *m)
{
    ++m->writes;
    return FaultHits(&m->failWriteAt, m->writes);
}

static void Consume(DeviceModel *m, uint32_t bytes)
{
    m->cursor += bytes;
    m->remaining = bytes >= m->remaining ? 0 : m->remaining - bytes;
    if (m->remaining == 0 && m->phase != PHASE_MEMORY_IN && m->phase != PHASE_MEMORY_OUT)
        m->phase = PHASE_NONE;
}

uint32_t ModelPipeRead(DeviceModel *m, uint8_t *buffer, uint32_t size)
{
    uint32_t i;
    switch (m->phase) {
    case PHASE_MEMORY_IN:
        if (m->remaining == 0)
            return 0;
        CopyOut(m, m->cursor, buffer, size);
        break;
    case PHASE_VERIFY:
        size = size < m->remaining ? size : m->remaining;
        memcpy(buffer, m->verify + m->cursor, size);
        break;
    case PHASE_DEBUG:
        size = size < m->remaining ? size : m->remaining;
        for (i = 0; i < size; ++i)
            buffer[i] = m->debugIn[(m->cursor + i) % m->debugInBytes];
        break;
    default:
        return 0;
    }
    Consume(m, size);
    if (m->remaining == 0 && m->phase == PHASE_MEMORY_IN)
        EndPhase(m);
    return size;
}

ModelStatus ModelPipeWrite(DeviceModel *m, const uint8_t *buffer, uint32_t size, uint32_t *moved)
{
    ModelStatus status;
    *moved = 0;
    switch (m->phase) {
    case PHASE_MEMORY_OUT:
        if (m->remaining == 0)
            break;
        status = CopyIn(m, m->cursor, buffer, size);
        if (status != MODEL_OK)
            return status;
        Consume(m, size);
        if (m->remaining == 0)
            EndPhase(m);
        break;
    case PHASE_DEBUG:
        Consume(m, size < m->remaining ? size : m->remaining);
        break;
    default:
        break;
    }
    *moved = size;
    return MODEL_OK;
}
