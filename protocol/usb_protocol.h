/* Wire formats spoken to the USB driver: the vendor command block, the status
 * block, the driver-state reply, the standard device descriptor, request codes,
 * status bits, control codes and device-interface classes.  Shared by the
 * transfer library, the COM server and the virtual device, so it is plain C
 * with no Windows headers: the kernel-mode build includes it too. */
#ifndef USB_PROTOCOL_H
#define USB_PROTOCOL_H

#include <stdint.h>
#include <stddef.h>

#ifdef __cplusplus
#define PROTO_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#define PROTO_INLINE inline
extern "C" {
#else
#define PROTO_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#define PROTO_INLINE static inline
#endif

/* CTL_CODE(device type, function, method, access) as the I/O manager packs it. */
#define PROTO_CTL_CODE(type, fn, method, access) \
    (((uint32_t)(type) << 16) | ((uint32_t)(access) << 14) | ((uint32_t)(fn) << 2) | (uint32_t)(method))
#define PROTO_FILE_DEVICE_UNKNOWN 0x22u
#define PROTO_METHOD_BUFFERED 0u
#define PROTO_METHOD_OUT_DIRECT 2u
#define PROTO_FILE_ANY_ACCESS 0u

/* Control codes the driver accepts on the device-interface path. */
#define IOCTL_VENDOR_REQUEST \
    PROTO_CTL_CODE(PROTO_FILE_DEVICE_UNKNOWN, 10, PROTO_METHOD_OUT_DIRECT, PROTO_FILE_ANY_ACCESS)
#define IOCTL_DRIVER_STATE \
    PROTO_CTL_CODE(PROTO_FILE_DEVICE_UNKNOWN, 6, PROTO_METHOD_BUFFERED, PROTO_FILE_ANY_ACCESS)
#define IOCTL_GET_DEVICE_DESCRIPTOR \
    PROTO_CTL_CODE(PROTO_FILE_DEVICE_UNKNOWN, 0, PROTO_METHOD_BUFFERED, PROTO_FILE_ANY_ACCESS)
PROTO_STATIC_ASSERT(IOCTL_VENDOR_REQUEST == 0x22002Au, "vendor request code");
PROTO_STATIC_ASSERT(IOCTL_DRIVER_STATE == 0x220018u, "driver state code");
PROTO_STATIC_ASSERT(IOCTL_GET_DEVICE_DESCRIPTOR == 0x220000u, "device descriptor code");

/* Vendor request codes (bRequest). */
#define REQ_READ 0xA0u
#define REQ_WRITE 0xA1u
#define REQ_STATUS 0xA2u
#define REQ_RESET 0xA3u
#define REQ_DEBUG 0xAAu

/* Bits of byte 0 of the status block. */
#define STATUS_ACTIVE 0x04u
#define STATUS_ERROR 0x08u

/* Direction byte and the USB request-type bytes that go with it. */
#define VENDOR_HOST_TO_DEVICE 0u
#define VENDOR_DEVICE_TO_HOST 1u
#define VENDOR_REQUEST_TYPE 2u
#define VENDOR_RECIPIENT_DEVICE 0u
#define VENDOR_BM_OUT 0x40u
#define VENDOR_BM_IN 0xC0u

/* Lengths of the data stages, in bytes. */
#define READ_STAGE_SIZE 12u
#define WRITE_STAGE_SIZE 16u
#define STATUS_STAGE_SIZE 8u
#define VERIFY_STAGE_SIZE 8u
#define DEBUG_STAGE_SIZE 4u

/* Bulk pipe names below the device-interface path. */
#define PIPE_IN_SUFFIX "\\PIPE0"
#define PIPE_OUT_SUFFIX "\\PIPE1"

typedef struct VendorCommandBlock {
    uint8_t direction;
    uint8_t requestType;
    uint8_t recipient;
    uint8_t bmRequestType;
    uint8_t bRequest;
    uint8_t reserved;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
} VendorCommandBlock;
PROTO_STATIC_ASSERT(sizeof(VendorCommandBlock) == 12, "command block size");
PROTO_STATIC_ASSERT(offsetof(VendorCommandBlock, bmRequestType) == 3, "bmRequestType offset");
PROTO_STATIC_ASSERT(offsetof(VendorCommandBlock, bRequest) == 4, "bRequest offset");
PROTO_STATIC_ASSERT(offsetof(VendorCommandBlock, wValue) == 6, "wValue offset");
PROTO_STATIC_ASSERT(offsetof(VendorCommandBlock, wIndex) == 8, "wIndex offset");
PROTO_STATIC_ASSERT(offsetof(VendorCommandBlock, wLength) == 10, "wLength offset");

typedef struct StatusBlock {
    uint8_t bytes[8];
} StatusBlock;
PROTO_STATIC_ASSERT(sizeof(StatusBlock) == 8, "status block size");

/* Reply of IOCTL_DRIVER_STATE; only `pending` has a meaning for callers. */
typedef struct DriverState {
    uint32_t word0;
    uint32_t pending;
    uint32_t more[4];
} DriverState;
PROTO_STATIC_ASSERT(sizeof(DriverState) == 24, "driver state size");
PROTO_STATIC_ASSERT(offsetof(DriverState, pending) == 4, "pending offset");

/* The standard 18-byte USB device descriptor. */
typedef struct UsbDeviceDescriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint8_t iManufacturer;
    uint8_t iProduct;
    uint8_t iSerialNumber;
    uint8_t bNumConfigurations;
} UsbDeviceDescriptor;
PROTO_STATIC_ASSERT(sizeof(UsbDeviceDescriptor) == 18, "device descriptor size");
PROTO_STATIC_ASSERT(offsetof(UsbDeviceDescriptor, idVendor) == 8, "idVendor offset");
PROTO_STATIC_ASSERT(offsetof(UsbDeviceDescriptor, idProduct) == 10, "idProduct offset");
PROTO_STATIC_ASSERT(offsetof(UsbDeviceDescriptor, bcdDevice) == 12, "bcdDevice offset");

/* Device-interface classes, as GUID initialisers {Data1, Data2, Data3, {Data4}}. */
#define DEVICE_CLASS_DEFAULT_INIT \
    { 0xF826D4FBu, 0x5152u, 0x40B0u, { 0xB5, 0x46, 0xA6, 0xED, 0xF2, 0x45, 0x2F, 0x05 } }
#define DEVICE_CLASS_V3_INIT \
    { 0x2BF6C30Eu, 0x7E8Eu, 0x48D4u, { 0x85, 0xDF, 0xB7, 0x48, 0x09, 0x07, 0x40, 0xDC } }
#define DEVICE_CLASS_V2_INIT \
    { 0x69EC0227u, 0xD044u, 0x4FACu, { 0x82, 0x9B, 0xD4, 0x7F, 0x1F, 0x8D, 0xE1, 0x35 } }

/* Fills a command block; the request-type bytes follow from the direction. */
PROTO_INLINE void VendorBlockInit(VendorCommandBlock *block, uint8_t direction, uint8_t request,
                                  uint16_t value, uint16_t index, uint16_t length)
{
    block->direction = direction;
    block->requestType = VENDOR_REQUEST_TYPE;
    block->recipient = VENDOR_RECIPIENT_DEVICE;
    block->bmRequestType = direction == VENDOR_HOST_TO_DEVICE ? VENDOR_BM_OUT : VENDOR_BM_IN;
    block->bRequest = request;
    block->reserved = 0;
    block->wValue = value;
    block->wIndex = index;
    block->wLength = length;
}

/* Data stages are sequences of little-endian 32-bit words. */
PROTO_INLINE void StagePutWord(uint8_t *stage, unsigned wordIndex, uint32_t value)
{
    uint8_t *p = stage + 4u * wordIndex;
    p[0] = (uint8_t)value;
    p[1] = (uint8_t)(value >> 8);
    p[2] = (uint8_t)(value >> 16);
    p[3] = (uint8_t)(value >> 24);
}

PROTO_INLINE uint32_t StageGetWord(const uint8_t *stage, unsigned wordIndex)
{
    const uint8_t *p = stage + 4u * wordIndex;
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

#ifdef __cplusplus
}
#endif
#endif
