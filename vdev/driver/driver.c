/* Virtual USB device: a root-enumerated WDM function driver that stands in for
 * the real USB driver.  Each instance publishes a product device interface
 * (default class, or one a test chooses) and an always-present back-channel
 * interface.  Opens of "\PIPE0" and "\PIPE1" are told apart by the file name;
 * where the platform passes none, a handle is bound to its pipe afterwards by
 * IOCTL_VDEV_BIND.  Each open is logged with the access and share mode it
 * asked for.  All requests complete at once except a read that the
 * scripted faults hold back. */
#include <ntddk.h>

#include "devicemodel/model.h"
#include "vdev_backchannel.h"

typedef struct DeviceExtension {
    PDEVICE_OBJECT self;
    PDEVICE_OBJECT lower;
    PDEVICE_OBJECT pdo;
    UNICODE_STRING productLink;
    UNICODE_STRING backLink;
    GUID productClass;
    BOOLEAN plugged;
    BOOLEAN started;
    uint32_t openHandles;
    PIRP heldRead;
    PFILE_OBJECT heldReadFile;
    DeviceModel model;
} DeviceExtension;

static const GUID kDefaultClass = DEVICE_CLASS_DEFAULT_INIT;
static const GUID kBackChannelClass = VDEV_BACKCHANNEL_CLASS_INIT;

/* What the driver keeps of one open handle, in its file object's FsContext
 * from create to close. */
typedef struct OpenFile {
    uint32_t pipe;   /* VDEV_PIPE_CONTROL until bound */
    uint32_t bound;  /* logged as opened, so its close is logged too */
    uint32_t access; /* desired access of the create; 0 where the platform passes none */
    uint32_t share;  /* share mode of the create */
} OpenFile;

#define OPEN_FILE_TAG 0x6E706F76u /* 'vopn' */

static OpenFile *FileRecord(PFILE_OBJECT file)
{
    return file ? (OpenFile *)file->FsContext : NULL;
}

static uint32_t FilePipe(PFILE_OBJECT file)
{
    OpenFile *open = FileRecord(file);
    return open ? open->pipe : VDEV_PIPE_CONTROL;
}

/* Binds the handle to its pipe, unless a knob refuses the open; logs it either way. */
static NTSTATUS BindFile(DeviceExtension *ext, OpenFile *open, uint32_t pipe, const char *path, uint32_t pathLen)
{
    NTSTATUS status = ModelOpenFails(&ext->model, pipe) ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_SUCCESS;
    ModelLog(&ext->model, VDEV_LOG_OPEN, (uint16_t)pipe, open->access, open->share, (uint32_t)status, path, pathLen,
             0);
    if (NT_SUCCESS(status)) {
        open->pipe = pipe;
        open->bound = 1;
    }
    return status;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static PVOID IrpBuffer(PIRP irp)
{
    if (irp->MdlAddress)
        return MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
    if (irp->AssociatedIrp.SystemBuffer)
        return irp->AssociatedIrp.SystemBuffer;
    return irp->UserBuffer;
}

/* Instance number n of ROOT\VDEV\000n, read from the interface link name
 * "...#vdev#000n#{class}". */
static uint32_t InstanceFromLink(const UNICODE_STRING *link)
{
    USHORT chars = link->Length / sizeof(WCHAR), i;
    uint32_t value = 0, scale = 1;
    for (i = 0; i < chars; ++i) {
        if (link->Buffer[i] == L'{' && i >= 2) {
            USHORT j = i - 1; /* the '#' before the class */
            while (j > 0 && link->Buffer[j - 1] >= L'0' && link->Buffer[j - 1] <= L'9') {
                value += (uint32_t)(link->Buffer[j - 1] - L'0') * scale;
                scale *= 10;
                --j;
            }
            return value;
        }
    }
    return 0;
}

static void CompleteHeldRead(DeviceExtension *ext, NTSTATUS status, BOOLEAN deliver)
{
    PIRP irp = ext->heldRead;
    uint32_t size, moved = 0;
    uint8_t *buffer;
    if (!irp)
        return;
    ext->heldRead = NULL;
    ext->heldReadFile = NULL;
    if (IoSetCancelRoutine(irp, NULL) == NULL)
        return; /* the cancel routine owns it now */
    size = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
    buffer = IrpBuffer(irp);
    if (deliver && NT_SUCCESS(status) && buffer)
        moved = ModelPipeRead(&ext->model, buffer, ModelReadLimit(&ext->model, size));
    ModelLog(&ext->model, VDEV_LOG_READ, VDEV_PIPE_IN, size, moved, (uint32_t)status, buffer, moved, 0);
    Complete(irp, status, moved);
}

static void NTAPI CancelHeldRead(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension *ext = device->DeviceExtension;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    if (ext->heldRead == irp) {
        ext->heldRead = NULL;
        ext->heldReadFile = NULL;
    }
    ModelLog(&ext->model, VDEV_LOG_READ, VDEV_PIPE_IN, IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length,
             0, (uint32_t)STATUS_CANCELLED, NULL, 0, 0);
    Complete(irp, STATUS_CANCELLED, 0);
}

static NTSTATUS SetPlugged(DeviceExtension *ext, BOOLEAN plugged)
{
    NTSTATUS status = STATUS_SUCCESS;
    if (ext->productLink.Buffer && ext->plugged != plugged)
        status = IoSetDeviceInterfaceState(&ext->productLink, plugged);
    if (NT_SUCCESS(status))
        ext->plugged = plugged;
    return status;
}

static NTSTATUS PublishProduct(DeviceExtension *ext, const GUID *cls)
{
    BOOLEAN wasPlugged = ext->plugged || !ext->productLink.Buffer;
    NTSTATUS status;
    if (ext->productLink.Buffer) {
        SetPlugged(ext, FALSE);
        RtlFreeUnicodeString(&ext->productLink);
        ext->productLink.Buffer = NULL;
    }
    status = IoRegisterDeviceInterface(ext->pdo, cls, NULL, &ext->productLink);
    if (!NT_SUCCESS(status)) {
        ext->productLink.Buffer = NULL;
        return status;
    }
    ext->productClass = *cls;
    ext->plugged = FALSE;
    return wasPlugged ? SetPlugged(ext, TRUE) : STATUS_SUCCESS;
}

static void FillInfo(DeviceExtension *ext, VdevInfo *info)
{
    USHORT i, chars = ext->productLink.Length / sizeof(WCHAR);
    RtlZeroMemory(info, sizeof *info);
    info->instance = ext->model.instance;
    info->memoryBytes = ext->model.memoryBytes;
    info->memoryPagesWritten = ext->model.pagesWritten;
    info->plugged = ext->plugged;
    info->readPending = ext->heldRead != NULL;
    info->active = ext->model.remaining > 0;
    info->statusPolls = ext->model.polls;
    info->logNext = ext->model.logNext;
    info->openHandles = ext->openHandles;
    RtlCopyMemory(info->interfaceClass, &ext->productClass, 16);
    /* "\??\" links are "\\?\" paths for user mode. */
    for (i = 0; i < chars && i < sizeof info->interfacePath - 1; ++i)
        info->interfacePath[i] = (char)ext->productLink.Buffer[i];
    if (chars >= 2)
        info->interfacePath[1] = '\\';
}

/* Back channel and bind requests, METHOD_BUFFERED. */
static NTSTATUS BackChannel(DeviceExtension *ext, PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info)
{
    uint8_t *buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG inSize = sp->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = sp->Parameters.DeviceIoControl.OutputBufferLength;
    DeviceModel *m = &ext->model;

    switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_VDEV_BIND: {
        VdevBind *bind = (VdevBind *)buffer;
        OpenFile *open = FileRecord(sp->FileObject);
        uint32_t len = 0;
        if (inSize < sizeof *bind || bind->pipe > VDEV_PIPE_CONTROL || !open || open->bound)
            return STATUS_INVALID_PARAMETER;
        while (len < sizeof bind->path && bind->path[len])
            ++len;
        if (!open->access)
            open->access = bind->access;
        return BindFile(ext, open, bind->pipe, bind->path, len);
    }
    case IOCTL_VDEV_RESET:
        CompleteHeldRead(ext, STATUS_CANCELLED, FALSE);
        ModelReset(m);
        return SetPlugged(ext, TRUE);
    case IOCTL_VDEV_KNOB: {
        VdevKnob knob;
        if (inSize < sizeof knob)
            return STATUS_INVALID_PARAMETER;
        RtlCopyMemory(&knob, buffer, sizeof knob);
        if (knob.id == VDEV_KNOB_PLUGGED)
            return SetPlugged(ext, knob.value != 0);
        if (knob.id == VDEV_KNOB_RELEASE_READ) {
            if (!ext->heldRead)
                return STATUS_INVALID_DEVICE_STATE;
            CompleteHeldRead(ext, STATUS_SUCCESS, TRUE);
            return STATUS_SUCCESS;
        }
        return ModelKnob(m, &knob);
    }
    case IOCTL_VDEV_INFO:
        if (outSize < sizeof(VdevInfo))
            return STATUS_BUFFER_TOO_SMALL;
        FillInfo(ext, (VdevInfo *)buffer);
        *info = sizeof(VdevInfo);
        return STATUS_SUCCESS;
    case IOCTL_VDEV_MEM_WRITE: {
        VdevMemRange range;
        if (inSize < sizeof range)
            return STATUS_INVALID_PARAMETER;
        RtlCopyMemory(&range, buffer, sizeof range);
        return ModelSetMemory(m, range.byteOffset, buffer + sizeof range, inSize - sizeof range);
    }
    case IOCTL_VDEV_MEM_READ: {
        VdevMemRange range;
        NTSTATUS status;
        if (inSize < sizeof range)
            return STATUS_INVALID_PARAMETER;
        RtlCopyMemory(&range, buffer, sizeof range);
        if (range.length > outSize)
            return STATUS_INVALID_PARAMETER;
        status = ModelGetMemory(m, range.byteOffset, buffer, range.length);
        if (NT_SUCCESS(status))
            *info = range.length;
        return status;
    }
    case IOCTL_VDEV_LOG: {
        uint32_t first;
        if (inSize < sizeof first)
            return STATUS_INVALID_PARAMETER;
        RtlCopyMemory(&first, buffer, sizeof first);
        *info = ModelCopyLog(m, first, (VdevLogRecord *)buffer, outSize / sizeof(VdevLogRecord)) *
                sizeof(VdevLogRecord);
        return STATUS_SUCCESS;
    }
    case IOCTL_VDEV_SET_CLASS: {
        GUID cls;
        if (inSize < sizeof cls)
            return STATUS_INVALID_PARAMETER;
        RtlCopyMemory(&cls, buffer, sizeof cls);
        return PublishProduct(ext, &cls);
    }
    case IOCTL_VDEV_SET_DRIVER_STATE:
        if (inSize < sizeof(DriverState))
            return STATUS_INVALID_PARAMETER;
        RtlCopyMemory(&m->driverState, buffer, sizeof(DriverState));
        return STATUS_SUCCESS;
    case IOCTL_VDEV_SET_DEBUG_IN:
        if (inSize == 0 || inSize > DEBUG_BUFFER_BYTES)
            return STATUS_INVALID_PARAMETER;
        RtlCopyMemory(m->debugIn, buffer, inSize);
        m->debugInBytes = inSize;
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension *ext = device->DeviceExtension;
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    ULONG_PTR info = 0;
    NTSTATUS status;

    if (code == IOCTL_VENDOR_REQUEST || code == IOCTL_DRIVER_STATE || code == IOCTL_GET_DEVICE_DESCRIPTOR) {
        /* Vendor requests carry the data stage in the output buffer (direct I/O);
         * the two queries are buffered. */
        uint8_t *out = code == IOCTL_VENDOR_REQUEST ? (irp->MdlAddress ? IrpBuffer(irp) : NULL)
                                                    : irp->AssociatedIrp.SystemBuffer;
        uint32_t outSize = sp->Parameters.DeviceIoControl.OutputBufferLength, moved = 0;
        uint8_t in[12];
        uint32_t inSize = sp->Parameters.DeviceIoControl.InputBufferLength;
        if (inSize > sizeof in)
            inSize = sizeof in + 1; /* too long: the model rejects it */
        if (inSize && irp->AssociatedIrp.SystemBuffer)
            RtlCopyMemory(in, irp->AssociatedIrp.SystemBuffer, inSize > sizeof in ? sizeof in : inSize);
        if (!out)
            outSize = 0;
        status = ModelControl(&ext->model, code, in, inSize, out, outSize, &moved);
        if (code == IOCTL_VENDOR_REQUEST && NT_SUCCESS(status) && in[4] == REQ_RESET) {
            ModelLog(&ext->model, VDEV_LOG_RESET, VDEV_PIPE_CONTROL, in[8] | (in[9] << 8),
                     ext->heldRead != NULL, 0, NULL, 0, 0);
            CompleteHeldRead(ext, STATUS_CANCELLED, FALSE);
        }
        info = NT_SUCCESS(status) ? moved : 0;
    } else {
        status = BackChannel(ext, irp, sp, &info);
    }
    return Complete(irp, status, info);
}

static void FreeRecord(PFILE_OBJECT file)
{
    if (file && file->FsContext) {
        ExFreePoolWithTag(file->FsContext, OPEN_FILE_TAG);
        file->FsContext = NULL;
    }
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension *ext = device->DeviceExtension;
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    PFILE_OBJECT file = sp->FileObject;
    static const WCHAR pipeName[] = L"\\PIPE";
    OpenFile *open;
    NTSTATUS status = STATUS_SUCCESS;
    if (!ext->started)
        return Complete(irp, STATUS_NO_SUCH_DEVICE, 0);
    if (file) {
        open = ExAllocatePoolWithTag(NonPagedPool, sizeof *open, OPEN_FILE_TAG);
        if (!open)
            return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        open->pipe = VDEV_PIPE_CONTROL;
        open->bound = 0;
        open->access = sp->Parameters.Create.SecurityContext ? sp->Parameters.Create.SecurityContext->DesiredAccess : 0;
        open->share = sp->Parameters.Create.ShareAccess;
        file->FsContext = open;
        /* Where the platform passes the name below the device, it decides the pipe. */
        if (file->FileName.Length == 6 * sizeof(WCHAR)) {
            const WCHAR *name = file->FileName.Buffer;
            USHORT i;
            for (i = 0; i < 5; ++i)
                if ((name[i] | (i ? 0x20 : 0)) != (pipeName[i] | (i ? 0x20 : 0)))
                    break;
            if (i < 5 || (name[5] != L'0' && name[5] != L'1'))
                status = STATUS_OBJECT_NAME_NOT_FOUND;
            else
                status = BindFile(ext, open, name[5] == L'0' ? VDEV_PIPE_IN : VDEV_PIPE_OUT, NULL, 0);
        } else if (file->FileName.Length != 0) {
            status = STATUS_OBJECT_NAME_NOT_FOUND;
        }
        if (!NT_SUCCESS(status)) {
            FreeRecord(file);
            return Complete(irp, status, 0);
        }
    }
    ++ext->openHandles;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension *ext = device->DeviceExtension;
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    if (ext->heldRead && ext->heldReadFile == file)
        CompleteHeldRead(ext, STATUS_CANCELLED, FALSE);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension *ext = device->DeviceExtension;
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    OpenFile *open = FileRecord(file);
    if (open && open->bound)
        ModelLog(&ext->model, VDEV_LOG_CLOSE, (uint16_t)open->pipe, 0, 0, 0, NULL, 0, 0);
    FreeRecord(file);
    if (ext->openHandles)
        --ext->openHandles;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchRead(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension *ext = device->DeviceExtension;
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    uint32_t size = sp->Parameters.Read.Length, moved = 0;
    uint8_t *buffer = IrpBuffer(irp);
    NTSTATUS status = STATUS_SUCCESS;

    if (FilePipe(sp->FileObject) != VDEV_PIPE_IN || (size && !buffer))
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    switch (ModelPlanRead(&ext->model)) {
    case READ_FAIL:
        status = STATUS_UNSUCCESSFUL;
        break;
    case READ_HOLD:
        if (ext->heldRead)
            return Complete(irp, STATUS_DEVICE_BUSY, 0);
        ext->heldRead = irp;
        ext->heldReadFile = sp->FileObject;
        IoMarkIrpPending(irp);
        IoSetCancelRoutine(irp, CancelHeldRead);
        return STATUS_PENDING;
    case READ_NORMAL:
        moved = ModelPipeRead(&ext->model, buffer, ModelReadLimit(&ext->model, size));
        break;
    }
    ModelLog(&ext->model, VDEV_LOG_READ, VDEV_PIPE_IN, size, moved, (uint32_t)status, buffer, moved, 0);
    return Complete(irp, status, moved);
}

static NTSTATUS NTAPI DispatchWrite(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension *ext = device->DeviceExtension;
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    uint32_t size = sp->Parameters.Write.Length, moved = 0;
    const uint8_t *buffer = IrpBuffer(irp);
    NTSTATUS status = STATUS_SUCCESS;

    if (FilePipe(sp->FileObject) != VDEV_PIPE_OUT || (size && !buffer))
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (ModelWriteFails(&ext->model))
        status = STATUS_UNSUCCESSFUL;
    else
        status = ModelPipeWrite(&ext->model, buffer, size, &moved);
    ModelLog(&ext->model, VDEV_LOG_WRITE, VDEV_PIPE_OUT, size, moved, (uint32_t)status, buffer, size, 0);
    return Complete(irp, status, moved);
}

static void Teardown(DeviceExtension *ext)
{
    CompleteHeldRead(ext, STATUS_NO_SUCH_DEVICE, FALSE);
    SetPlugged(ext, FALSE);
    if (ext->backLink.Buffer) {
        IoSetDeviceInterfaceState(&ext->backLink, FALSE);
        RtlFreeUnicodeString(&ext->backLink);
        ext->backLink.Buffer = NULL;
    }
    if (ext->productLink.Buffer) {
        RtlFreeUnicodeString(&ext->productLink);
        ext->productLink.Buffer = NULL;
    }
    ext->started = FALSE;
}

static NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension *ext = device->DeviceExtension;
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    PDEVICE_OBJECT lower = ext->lower;
    NTSTATUS status;

    switch (sp->MinorFunction) {
    case IRP_MN_START_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        if (!ext->started) {
            ext->started = TRUE;
            IoSetDeviceInterfaceState(&ext->backLink, TRUE);
            PublishProduct(ext, &kDefaultClass);
        }
        return status;
    case IRP_MN_REMOVE_DEVICE:
        Teardown(ext);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        ModelFree(&ext->model);
        IoDeleteDevice(device);
        return status;
    case IRP_MN_SURPRISE_REMOVAL:
        Teardown(ext);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

static NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension *ext = device->DeviceExtension;
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext->lower, irp);
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT fdo;
    DeviceExtension *ext;
    NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceExtension), NULL, FILE_DEVICE_UNKNOWN,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &fdo);
    if (!NT_SUCCESS(status))
        return status;
    ext = fdo->DeviceExtension;
    RtlZeroMemory(ext, sizeof *ext);
    ext->self = fdo;
    ext->pdo = pdo;
    status = IoRegisterDeviceInterface(pdo, &kBackChannelClass, NULL, &ext->backLink);
    if (NT_SUCCESS(status))
        status = ModelInit(&ext->model, InstanceFromLink(&ext->backLink));
    if (!NT_SUCCESS(status)) {
        if (ext->backLink.Buffer)
            RtlFreeUnicodeString(&ext->backLink);
        IoDeleteDevice(fdo);
        return status;
    }
    ext->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    fdo->Flags |= DO_DIRECT_IO;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void NTAPI Unload(PDRIVER_OBJECT driver)
{
    (void)driver;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    (void)registryPath;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_READ] = DispatchRead;
    driver->MajorFunction[IRP_MJ_WRITE] = DispatchWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
