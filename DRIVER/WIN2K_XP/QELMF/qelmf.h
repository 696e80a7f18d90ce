/*
 * qelmf.h - chief header of the QELMF bus driver.
 *
 * QELMF puts a function device object (the card device) on the PCI device of
 * a serial card with 1, 2, 4 or 8 UART ports and creates one child physical
 * device object (a port device) per port, enumerated as QEL_CARD\SERIAL.
 * The serial port driver that loads on each port device learns the port's
 * registers and the card's interrupt through PORT_INTERFACE / PORT_CONFIG,
 * the two records at the end of this file, whose layouts are fixed.
 */
#ifndef QELMF_H
#define QELMF_H

#include <wdm.h>

/*
 * Code placement. With Microsoft's compiler #pragma alloc_text does this; gcc
 * names the section per routine. The Linux build of the same sources runs on
 * the simulated kernel, which has no pageable sections, so the macros vanish.
 */
#if defined(_WIN32) && defined(__GNUC__)
#define QEL_INIT_CODE __attribute__((section("INIT")))
#define QEL_PAGED_CODE __attribute__((section("PAGE")))
#else
#define QEL_INIT_CODE
#define QEL_PAGED_CODE
#endif

/*
 * Pool tags. The registry-path copy carries the tag whose bytes read "MLEQ"
 * (the multi-character constant 'QELM'); everything else "Ddk ". Spelt with
 * shifts so that no compiler has to guess at multi-character constants.
 */
#define QEL_TAG(a, b, c, d)                                                                        \
    ((ULONG)(UCHAR)(a) | ((ULONG)(UCHAR)(b) << 8) | ((ULONG)(UCHAR)(c) << 16) |                    \
     ((ULONG)(UCHAR)(d) << 24))
#define QEL_REGPATH_TAG QEL_TAG('M', 'L', 'E', 'Q')
#define QEL_POOL_TAG QEL_TAG('D', 'd', 'k', ' ')

/* Number of slots in a card's port table; a card never has more than 8 ports. */
#define QEL_MAX_CHILDREN 16

/*
 * Size of the port interface record the port driver must offer at least:
 * the whole PORT_INTERFACE, 20 bytes on 32-bit x86.
 */
#define QEL_PORT_INTERFACE_SIZE sizeof(PORT_INTERFACE)

/* Sizes of the port devices' ID strings in characters (room) and bytes (answer). */
#define QEL_DEVICE_ID_CHARS 32
#define QEL_MULTI_ID_CHARS 34
#define QEL_INSTANCE_ID_CHARS 18
#define QEL_DEVICE_ID_BYTES 32
#define QEL_MULTI_ID_BYTES 34
#define QEL_INSTANCE_ID_BYTES 18
#define QEL_DESCRIPTION_BYTES 32

/* PCI configuration word that names the port count, and its offset. */
#define QEL_PORT_COUNT_OFFSET 0x2C

/* Plug and Play state of a card or port device. */
typedef enum _PNP_STATE {
    StateNotStarted = 0,
    StateStarted = 1,
    StateStopPending = 2,
    StateStopped = 3,
    StateRemovePending = 4,
    StateSurpriseRemoved = 5,
    StateDeleted = 6
} PNP_STATE;

/* First fields of both extensions; the dispatch routines route on IsFdo. */
typedef struct _EXTENSION_HEADER {
    PDEVICE_OBJECT Self;
    BOOLEAN IsFdo;
    PNP_STATE PnpState;
    SYSTEM_POWER_STATE SysPowerState;
    DEVICE_POWER_STATE DevPowerState;
} EXTENSION_HEADER, *PEXTENSION_HEADER;

/* Extension of the card device (the function device object on the PCI device). */
typedef struct _CARD_EXTENSION {
    EXTENSION_HEADER Header;

    PDEVICE_OBJECT UnderlyingPdo; /* PCI physical device object */
    PDEVICE_OBJECT LowerDevice;   /* where requests passed down go */

    PDEVICE_OBJECT ChildPdos[QEL_MAX_CHILDREN]; /* port device of port i in slot i */
    FAST_MUTEX ChildLock;                       /* guards ChildPdos */

    LONG OutstandingIo; /* 1 while idle */
    KEVENT RemoveEvent; /* set when OutstandingIo reaches 0 */
    KEVENT StopEvent;   /* set when OutstandingIo falls back to 1 */
    UNICODE_STRING InterfaceName;

    ULONG LocationCode;  /* bus << 8 | device << 3 | function, 0 if unknown */
    ULONG NumberOfPorts; /* 0, 1, 2, 4 or 8 */

    PHYSICAL_ADDRESS RawIoBase;
    PHYSICAL_ADDRESS TrIoBase;
    ULONG PortFlags;
    ULONG RawInterruptLevel;
    ULONG RawInterruptVector;
    KAFFINITY RawInterruptAffinity;
    ULONG TrInterruptLevel;
    ULONG TrInterruptVector;
    KAFFINITY TrInterruptAffinity;

    /*
     * TRUE while this card holds one of UnlocatedCardCount: its location
     * could not be read, so its ports' instance IDs rest on LocationCode 0.
     */
    BOOLEAN HoldsUnlocatedCount;
} CARD_EXTENSION, *PCARD_EXTENSION;

/* Extension of a port device (a child physical device object). */
typedef struct _PORT_EXTENSION {
    EXTENSION_HEADER Header;

    PDEVICE_OBJECT ParentFdo; /* the card device */
    WCHAR DeviceId[QEL_DEVICE_ID_CHARS];
    WCHAR HardwareIds[QEL_MULTI_ID_CHARS];
    WCHAR CompatibleIds[QEL_MULTI_ID_CHARS];
    WCHAR InstanceId[QEL_INSTANCE_ID_CHARS];
    ULONG PortIndex;    /* number on the card from 0, and slot in ChildPdos */
    LONG InterfaceRefs; /* references the port driver holds on the interface */
} PORT_EXTENSION, *PPORT_EXTENSION;

/*
 * Records shared with the port driver. Their layouts are fixed for 32-bit
 * x86, where pointers and KAFFINITY take 4 bytes; every gap is spelt out so
 * that the layout does not hang on the compiler's alignment rules.
 */
typedef struct _PORT_CONFIG {
    ULONG LocationCode;                 /*  0 */
    ULONG Unused0;                      /*  4 */
    PHYSICAL_ADDRESS RawPortBase;       /*  8 */
    PHYSICAL_ADDRESS TrPortBase;        /* 16 */
    PHYSICAL_ADDRESS RawSharedRegister; /* 24 */
    PHYSICAL_ADDRESS TrSharedRegister;  /* 32 */
    ULONG PortFlags;                    /* 40 */
    ULONG PortIndex;                    /* 44 */
    ULONG Reserved1;                    /* 48 */
    ULONG RawInterruptLevel;            /* 52 */
    ULONG RawInterruptVector;           /* 56 */
    KAFFINITY RawInterruptAffinity;     /* 60 */
    USHORT Reserved2;                   /* 64 */
    USHORT Unused1;                     /* 66 */
    ULONG TrInterruptLevel;             /* 68 */
    ULONG TrInterruptVector;            /* 72 */
    KAFFINITY TrInterruptAffinity;      /* 76 */
    USHORT Reserved3;                   /* 80 */
    USHORT Unused2;                     /* 82 */
    ULONG Unused3;                      /* 84 */
} PORT_CONFIG, *PPORT_CONFIG;

typedef BOOLEAN(NTAPI* PGET_PORT_CONFIG)(PVOID Context, PPORT_CONFIG Config);

/* A standard INTERFACE header followed by the configuration function. */
typedef struct _PORT_INTERFACE {
    USHORT Size;
    USHORT Version;
    PVOID Context; /* the port's PORT_EXTENSION */
    PINTERFACE_REFERENCE InterfaceReference;
    PINTERFACE_DEREFERENCE InterfaceDereference;
    PGET_PORT_CONFIG GetPortConfig;
} PORT_INTERFACE, *PPORT_INTERFACE;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PORT_INTERFACE) == 20, "PORT_INTERFACE layout");
static_assert(FIELD_OFFSET(PORT_INTERFACE, Context) == 4, "PORT_INTERFACE layout");
static_assert(FIELD_OFFSET(PORT_INTERFACE, InterfaceReference) == 8, "PORT_INTERFACE layout");
static_assert(FIELD_OFFSET(PORT_INTERFACE, InterfaceDereference) == 12, "PORT_INTERFACE layout");
static_assert(FIELD_OFFSET(PORT_INTERFACE, GetPortConfig) == 16, "PORT_INTERFACE layout");
static_assert(sizeof(PORT_CONFIG) == 88, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, LocationCode) == 0, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, RawPortBase) == 8, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, TrPortBase) == 16, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, RawSharedRegister) == 24, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, TrSharedRegister) == 32, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, PortFlags) == 40, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, PortIndex) == 44, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, Reserved1) == 48, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, RawInterruptLevel) == 52, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, RawInterruptVector) == 56, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, RawInterruptAffinity) == 60, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, Reserved2) == 64, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, TrInterruptLevel) == 68, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, TrInterruptVector) == 72, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, TrInterruptAffinity) == 76, "PORT_CONFIG layout");
static_assert(FIELD_OFFSET(PORT_CONFIG, Reserved3) == 80, "PORT_CONFIG layout");
#endif

extern "C" {

/* {1B829016-693A-4069-9813-65EEB255C8B8}: the card's device interface class,
   and the interface type of the port interface. */
extern const GUID GUID_CARD_INTERFACE;
/* {5F28B317-42AF-404D-92A2-09E3153AB862}: bus type of every port device. */
extern const GUID GUID_CARD_BUS_TYPE;

/* Copy of the service key path; buffer tagged "MLEQ". */
extern UNICODE_STRING RegistryPathCopy;
/* Live cards whose location could not be read (at most one may live). */
extern LONG UnlocatedCardCount;

/* entry.cpp */
NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
VOID NTAPI UnloadDriver(PDRIVER_OBJECT DriverObject);
NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp);
VOID IncrementIoCount(PCARD_EXTENSION Card);
VOID DecrementIoCount(PCARD_EXTENSION Card);

/* adddevice.cpp */
NTSTATUS NTAPI AddCardDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject);
NTSTATUS ReadCardLocation(PCARD_EXTENSION Card);
VOID ReleaseUnlocatedCount(PCARD_EXTENSION Card);

/* cardpnp.cpp */
NTSTATUS CardPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp, PIO_STACK_LOCATION Stack,
                 PCARD_EXTENSION Card);
NTSTATUS ForwardIrpAndWait(PDEVICE_OBJECT LowerDevice, PIRP Irp);
NTSTATUS NTAPI ForwardCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Event);
ULONG ReadPortCount(PCARD_EXTENSION Card);
NTSTATUS ReadCardConfig(PDEVICE_OBJECT DeviceObject, PVOID Buffer, ULONG Offset, ULONG Length);
NTSTATUS WriteRegistryValue(HANDLE Key, PCWSTR Name, ULONG Type, PVOID Data, ULONG Size);
VOID SaveCardResources(PCARD_EXTENSION Card, PIO_STACK_LOCATION Stack);
NTSTATUS EnableCardInterface(PCARD_EXTENSION Card);
VOID DisableCardInterface(PCARD_EXTENSION Card);
NTSTATUS EnumeratePorts(PIRP Irp, PCARD_EXTENSION Card);

/* port.cpp */
PCHAR BuildInstancePrefix(PCARD_EXTENSION Card);
NTSTATUS CreatePortDevice(PCARD_EXTENSION Card, ULONG Index, PCHAR Prefix);
NTSTATUS PortPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp, PIO_STACK_LOCATION Stack,
                 PPORT_EXTENSION Port);
NTSTATUS PortQueryId(PPORT_EXTENSION Port, PIO_STACK_LOCATION Stack, PIRP Irp);
NTSTATUS PortQueryText(PPORT_EXTENSION Port, PIO_STACK_LOCATION Stack, PIRP Irp);
NTSTATUS PortQueryCapabilities(PPORT_EXTENSION Port, PIO_STACK_LOCATION Stack, PIRP Irp);
NTSTATUS PortQueryTargetRelation(PPORT_EXTENSION Port, PIO_STACK_LOCATION Stack, PIRP Irp);
NTSTATUS PortQueryBusInformation(PPORT_EXTENSION Port, PIO_STACK_LOCATION Stack, PIRP Irp);
NTSTATUS GetCardCapabilities(PDEVICE_OBJECT DeviceObject, PDEVICE_CAPABILITIES Capabilities);

/* portif.cpp */
NTSTATUS PortQueryInterface(PPORT_EXTENSION Port, PIO_STACK_LOCATION Stack, PIRP Irp);
VOID NTAPI PortInterfaceReference(PVOID Context);
VOID NTAPI PortInterfaceDereference(PVOID Context);
BOOLEAN NTAPI GetPortConfig(PVOID Context, PPORT_CONFIG Config);

/* power.cpp */
NTSTATUS CardPower(PDEVICE_OBJECT DeviceObject, PIRP Irp, PIO_STACK_LOCATION Stack,
                   PCARD_EXTENSION Card);
NTSTATUS PortPower(PDEVICE_OBJECT DeviceObject, PIRP Irp, PIO_STACK_LOCATION Stack,
                   PPORT_EXTENSION Port);

} /* extern "C" */

#endif /* QELMF_H */
