/*
 * The PCI driver-access contract the engine is written against: the WDC_* operations, Stat2Str,
 * the records the engine reads and the status codes. Any library that offers these operations
 * with these results can stand under the engine; OstrelBoardSim is ours. The record layouts here
 * are our own.
 *
 * Unless a comment says otherwise an operation returns a 32-bit status: 0 for success, otherwise
 * one of the WD_* codes below (or any other non-zero code of the library), which Stat2Str turns
 * into text. No operation blocks except where noted.
 */
#ifndef OSTREL_WDC_LIB_H
#define OSTREL_WDC_LIB_H

#include <stdint.h>

#if defined(_WIN32) && !defined(OSTREL_WDC_STATIC)
#if defined(OSTREL_BUILDING_WDC)
#define WDC_API __declspec(dllexport)
#else
#define WDC_API __declspec(dllimport)
#endif
#elif defined(_WIN32)
#define WDC_API
#else
#define WDC_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- status codes ---------------------------------------------------------------------------- */
enum {
    WD_STATUS_SUCCESS = 0x0,
    WD_INVALID_HANDLE = 0x20000001,
    WD_READ_WRITE_CONFLICT = 0x20000003,
    WD_DEVICE_NOT_FOUND = 0x2000000A,
    WD_INVALID_PARAMETER = 0x2000000E,
    WD_OPERATION_ALREADY_DONE = 0x20000011,  /* interrupts/events already in the requested state */
    WD_INSUFFICIENT_RESOURCES = 0x20000013,
    WD_NO_RESOURCES_ON_DEVICE = 0x2000001B,  /* handle failed the layer's validity check */
    WD_NO_DEVICE_OBJECT = 0x20000020,        /* device has no interrupt resource */
    WD_WINDRIVER_STATUS_ERROR = 0x20000000
};

/* ---- records ----------------------------------------------------------------------------------- */
typedef void *WDC_DEVICE_HANDLE;

typedef struct {
    uint32_t dwBus;
    uint32_t dwSlot;
    uint32_t dwFunction;
} WD_PCI_SLOT;

typedef struct {
    uint32_t dwVendorId;
    uint32_t dwDeviceId;
} WD_PCI_ID;

#define WD_PCI_MAX_SCAN 64 /* boards one scan can report */

typedef struct {
    uint32_t dwNumDevices;
    WD_PCI_ID deviceId[WD_PCI_MAX_SCAN];
    WD_PCI_SLOT deviceSlot[WD_PCI_MAX_SCAN];
} WDC_PCI_SCAN_RESULT;

/* Card resource item types. */
enum { ITEM_NONE = 0, ITEM_INTERRUPT = 1, ITEM_MEMORY = 2, ITEM_IO = 3, ITEM_BUS = 5 };

typedef struct {
    uint32_t item;         /* ITEM_* */
    uint32_t fNotSharable;
    union {
        struct {           /* ITEM_MEMORY */
            uint64_t pPhysicalAddr;
            uint64_t qwBytes;
            uint32_t dwBar;
        } Mem;
        struct {           /* ITEM_IO */
            uint64_t pAddr;
            uint32_t dwBytes;
            uint32_t dwBar;
        } IO;
        struct {           /* ITEM_INTERRUPT: the first word is the interrupt number */
            uint32_t dwInterrupt;
            uint32_t dwOptions;
        } Int;
        struct {           /* ITEM_BUS */
            uint32_t dwBusType;
            uint32_t dwDomainNum;
            uint32_t dwBusNum;
            uint32_t dwSlotFunc;
        } Bus;
        uint32_t words[6]; /* the description as plain words */
    } I;
} WD_ITEMS;

#define WD_CARD_ITEMS 20

typedef struct {
    uint32_t dwItems;
    WD_ITEMS Item[WD_CARD_ITEMS];
} WD_CARD;

typedef struct {
    WD_PCI_SLOT pciSlot;
    WD_CARD Card;
} WD_PCI_CARD_INFO;

/* One address space (BAR) of an open device. */
typedef struct {
    uint32_t dwAddrSpace;
    uint32_t fIsMemory;    /* non-zero: memory space, zero: I/O */
    uint32_t dwItemIndex;  /* index of its item in the card resources */
    uint64_t qwBytes;      /* length */
} WDC_ADDR_DESC;

/* Interrupt state of an open device, kept by the library. */
typedef struct {
    uint32_t dwCounter;          /* interrupts received */
    uint32_t dwLost;             /* interrupts lost */
    uint32_t fStopped;           /* the wait ended because interrupts were disabled */
    uint32_t dwEnabledIntType;   /* interrupt type in force; bits 0x10 and 0x20 carry a message */
    uint32_t dwLastMessage;      /* last message word */
} WD_INTERRUPT_STATE;

/* The library's published device record; WDC_DEVICE_HANDLE points at one. */
typedef struct {
    WD_PCI_ID id;
    WD_PCI_SLOT slot;
    uint32_t dwNumAddrSpaces;
    WDC_ADDR_DESC *pAddrDesc;    /* dwNumAddrSpaces entries */
    WD_CARD cardReg;             /* the card resources */
    WD_INTERRUPT_STATE Int;
    uint32_t hKernelPlugIn;      /* kernel plug-in handle word; 0: none */
    void *pCtx;                  /* the context given to WDC_PciDeviceOpen */
} WDC_DEVICE;

/* A locked DMA buffer. */
typedef struct {
    uint64_t pPhysicalAddr;      /* bus address */
    uint32_t dwBytes;
} WD_DMA_PAGE;

typedef struct {
    void *pUserAddr;             /* user-mode address of the buffer */
    uint32_t dwBytes;
    uint32_t dwOptions;
    uint32_t dwPages;
    WD_DMA_PAGE Page[1];         /* a contiguous buffer has one page */
    uint64_t hDma;               /* the library's own token */
} WD_DMA;

/* An event from the library. */
typedef struct {
    uint32_t handle;
    uint32_t dwAction;           /* WD_* event action bits */
    WD_PCI_SLOT pciSlot;
} WD_EVENT;

/* Event action bits. */
enum {
    WD_INSERT = 0x1,
    WD_REMOVE = 0x2,
    WD_POWER_CHANGED_D0 = 0x10,
    WD_POWER_CHANGED_D1 = 0x20,
    WD_POWER_CHANGED_D2 = 0x40,
    WD_POWER_CHANGED_D3 = 0x80,
    WD_POWER_SYSTEM_WORKING = 0x100,
    WD_POWER_SYSTEM_SLEEPING1 = 0x200,
    WD_POWER_SYSTEM_SLEEPING2 = 0x800,
    WD_POWER_SYSTEM_SLEEPING3 = 0x1000,
    WD_POWER_SYSTEM_HIBERNATE = 0x2000
};

typedef void (*INT_HANDLER)(void *pData);
typedef void (*EVENT_HANDLER)(WD_EVENT *pEvent, void *pData);

/* Open options the engine passes to WDC_DriverOpen: the library's defaults. */
#define WDC_DRV_OPEN_DEFAULT 0x3u
/* WDC_DMAContigBufLock option the engine passes: a device-to-host buffer. */
#define DMA_FROM_DEVICE_CONTIG 0x22u
/* Address space number of the configuration space in the simulator's access log. */
#define WDC_CONFIG_SPACE 0xFFu

/* The kernel driver's control device. */
#define WDC_CONTROL_DEVICE_NAME "\\\\.\\windrvr6"

/* The engine calls the operations below by these names too, but through a table of the library
   it bound at run time (wdc_functions.h), so it links against no driver-access library. */
#if !defined(OSTREL_BUILDING_ENGINE)

/* ---- library ----------------------------------------------------------------------------------- */
WDC_API uint32_t WDC_SetDebugOptions(uint32_t dbgOptions, const char *dbgFile);
WDC_API uint32_t WDC_DriverOpen(uint32_t openOptions, const char *license);
WDC_API uint32_t WDC_DriverClose(void);
/* A printable text for any status; never null. */
WDC_API const char *Stat2Str(uint32_t status);

/* ---- bus and devices --------------------------------------------------------------------------- */
/* vendorId/deviceId 0 match any. Fills the record (which the caller zeroes). */
WDC_API uint32_t WDC_PciScanDevices(uint32_t vendorId, uint32_t deviceId,
                                    WDC_PCI_SCAN_RESULT *result);
/* Fills the resources of the card whose slot is filled in. */
WDC_API uint32_t WDC_PciGetDeviceInfo(WD_PCI_CARD_INFO *deviceInfo);
/* *handle receives the device record; context is kept and given back by WDC_GetDevContext. */
WDC_API uint32_t WDC_PciDeviceOpen(WDC_DEVICE_HANDLE *handle, const WD_PCI_CARD_INFO *deviceInfo,
                                   void *context, void *reserved, const char *kernelPlugInName,
                                   void *kernelPlugInData);
WDC_API uint32_t WDC_PciDeviceClose(WDC_DEVICE_HANDLE handle);
WDC_API void *WDC_GetDevContext(WDC_DEVICE_HANDLE handle);
/* Non-zero when the address space (BAR) is active. */
WDC_API int WDC_AddrSpaceIsActive(WDC_DEVICE_HANDLE handle, uint32_t addrSpace);

/* ---- register and memory access (the engine does not look at the status) ---------------------- */
WDC_API uint32_t WDC_ReadAddr8(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                               uint8_t *value);
WDC_API uint32_t WDC_ReadAddr16(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                                uint16_t *value);
WDC_API uint32_t WDC_ReadAddr32(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                                uint32_t *value);
WDC_API uint32_t WDC_WriteAddr8(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                                uint8_t value);
WDC_API uint32_t WDC_WriteAddr16(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                                 uint16_t value);
WDC_API uint32_t WDC_WriteAddr32(WDC_DEVICE_HANDLE handle, uint32_t addrSpace, uint64_t offset,
                                 uint32_t value);
WDC_API uint32_t WDC_PciReadCfg32(WDC_DEVICE_HANDLE handle, uint32_t offset, uint32_t *value);

/* ---- DMA ---------------------------------------------------------------------------------------- */
/* Allocates and locks a contiguous buffer of size bytes; *userAddress and *dma receive it. */
WDC_API uint32_t WDC_DMAContigBufLock(WDC_DEVICE_HANDLE handle, void **userAddress,
                                      uint32_t options, uint32_t size, WD_DMA **dma);
WDC_API uint32_t WDC_DMABufUnlock(WD_DMA *dma);

/* ---- interrupts and events ---------------------------------------------------------------------- */
/* transferCommands may be null with count 0. The handler is called with data on each interrupt. */
WDC_API uint32_t WDC_IntEnable(WDC_DEVICE_HANDLE handle, void *transferCommands,
                               uint32_t commandCount, uint32_t options, INT_HANDLER handler,
                               void *data, int useKernelPlugIn);
WDC_API uint32_t WDC_IntDisable(WDC_DEVICE_HANDLE handle);
WDC_API int WDC_IntIsEnabled(WDC_DEVICE_HANDLE handle);
WDC_API uint32_t WDC_EventRegister(WDC_DEVICE_HANDLE handle, uint32_t actions,
                                   EVENT_HANDLER handler, void *data, int useKernelPlugIn);
WDC_API uint32_t WDC_EventUnregister(WDC_DEVICE_HANDLE handle);
WDC_API int WDC_EventIsRegistered(WDC_DEVICE_HANDLE handle);

/* ---- the driver control device ------------------------------------------------------------------
 * A library may provide it where no kernel driver device exists (the simulator does), so that the
 * engine's open and close sequences run unchanged; a library without these three leaves the
 * engine to open the kernel driver's device. A handle is a positive number; -1 means the device
 * cannot be opened. The request returns non-zero on success and fills *bytesReturned. */
WDC_API intptr_t WDC_ControlDeviceOpen(const char *deviceName);
WDC_API int WDC_ControlDeviceRequest(intptr_t deviceHandle, uint32_t controlCode,
                                     const void *input, uint32_t inputBytes, void *output,
                                     uint32_t outputBytes, uint32_t *bytesReturned);
WDC_API int WDC_ControlDeviceClose(intptr_t deviceHandle);

#endif /* !OSTREL_BUILDING_ENGINE */

#ifdef __cplusplus
}
#endif

#if defined(OSTREL_BUILDING_ENGINE)
#include "platform/wdc/wdc_functions.h"
#endif

#endif /* OSTREL_WDC_LIB_H */
