// A card's physical device object: its identity, capabilities, configuration space, boot
// resources and Plug and Play states, as the PCI driver answers for it.
#include "pci/pci_internal.h"
#include "pnp/pool_text.h"

#include <cstdio>
#include <new>
#include <string>

namespace winsim::pci {

namespace {

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// Number of 8-byte register blocks the card decodes: its port count, at least one.
ULONG portBlocks(const pnp::CardConfig& card) {
    switch (card.configWord) {
    case 0x00020000:
        return 2;
    case 0x00040000:
        return 4;
    case 0x00080000:
        return 8;
    default:
        return 1;
    }
}

NTSTATUS answerId(const Slot& slot, PIRP irp, BUS_QUERY_ID_TYPE type) {
    const std::string base = "PCI\\VEN_5145&DEV_4C01";
    const std::string subsys = base + "&SUBSYS_" + hex8(slot.card.configWord);
    const std::string full = subsys + "&REV_01";
    PWSTR answer = nullptr;
    switch (type) {
    case BusQueryDeviceID:
        answer = pnp::poolText(full, poolTag);
        break;
    case BusQueryHardwareIDs:
        answer = pnp::poolMultiText({full, subsys, base + "&REV_01", base}, poolTag);
        break;
    case BusQueryCompatibleIDs:
        answer = pnp::poolMultiText(
            {base + "&REV_01", "PCI\\VEN_5145", "PCI\\CC_070002", "PCI\\CC_0700"}, poolTag);
        break;
    case BusQueryInstanceID: {
        char id[3];
        std::snprintf(id, sizeof id, "%02X", (slot.device << 3 | slot.function) & 0xFF);
        answer = pnp::poolText(id, poolTag);
        break;
    }
    default:
        return irp->IoStatus.Status;
    }
    if (answer == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(answer);
    return STATUS_SUCCESS;
}

NTSTATUS answerText(const Slot& slot, PIRP irp, DEVICE_TEXT_TYPE type) {
    std::string text;
    if (type == DeviceTextDescription) {
        text = "PCI Serial Controller";
    } else if (type == DeviceTextLocationInformation && slot.card.location) {
        text = *slot.card.location;
    } else {
        return irp->IoStatus.Status;
    }
    PWSTR answer = pnp::poolText(text, poolTag);
    if (answer == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(answer);
    return STATUS_SUCCESS;
}

NTSTATUS answerCapabilities(const Slot& slot, PIO_STACK_LOCATION stack) {
    PDEVICE_CAPABILITIES caps = stack->Parameters.DeviceCapabilities.Capabilities;
    if (caps == nullptr || caps->Version != 1 || caps->Size < sizeof(DEVICE_CAPABILITIES)) {
        return STATUS_UNSUCCESSFUL;
    }
    caps->UniqueID = 0;
    caps->Removable = 0;
    caps->SurpriseRemovalOK = 0;
    caps->Address = slot.device << 16 | slot.function;
    caps->UINumber = slot.device;
    caps->DeviceState[PowerSystemUnspecified] = PowerDeviceUnspecified;
    caps->DeviceState[PowerSystemWorking] = PowerDeviceD0;
    for (int s = PowerSystemSleeping1; s <= PowerSystemShutdown; ++s) {
        caps->DeviceState[s] = PowerDeviceD3;
    }
    caps->SystemWake = PowerSystemUnspecified;
    caps->DeviceWake = PowerDeviceUnspecified;
    return STATUS_SUCCESS;
}

NTSTATUS answerBusInformation(const Slot& slot, PIRP irp) {
    auto* info = static_cast<PPNP_BUS_INFORMATION>(
        ExAllocatePoolWithTag(PagedPool, sizeof(PNP_BUS_INFORMATION), poolTag));
    if (info == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    info->BusTypeGuid = busTypeGuid;
    info->LegacyBusType = PCIBus;
    info->BusNumber = slot.bus;
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(info);
    return STATUS_SUCCESS;
}

// The card's boot configuration: its first I/O range and its interrupt, untranslated.
NTSTATUS answerResources(const Slot& slot, PIRP irp) {
    const SIZE_T size = sizeof(CM_RESOURCE_LIST) + sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR);
    auto* list = static_cast<PCM_RESOURCE_LIST>(ExAllocatePoolWithTag(PagedPool, size, poolTag));
    if (list == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(list, size);
    list->Count = 1;
    CM_FULL_RESOURCE_DESCRIPTOR& full = list->List[0];
    full.InterfaceType = PCIBus;
    full.BusNumber = slot.bus;
    full.PartialResourceList.Version = 1;
    full.PartialResourceList.Revision = 1;
    full.PartialResourceList.Count = 2;
    CM_PARTIAL_RESOURCE_DESCRIPTOR* port = &full.PartialResourceList.PartialDescriptors[0];
    port->Type = CmResourceTypePort;
    port->ShareDisposition = CmResourceShareDeviceExclusive;
    port->Flags = CM_RESOURCE_PORT_IO | CM_RESOURCE_PORT_16_BIT_DECODE;
    port->u.Port.Start.QuadPart = slot.card.ioBase;
    port->u.Port.Length = 8 * portBlocks(slot.card);
    CM_PARTIAL_RESOURCE_DESCRIPTOR* interrupt = port + 1;
    interrupt->Type = CmResourceTypeInterrupt;
    interrupt->ShareDisposition = CmResourceShareShared;
    interrupt->Flags = CM_RESOURCE_INTERRUPT_LEVEL_SENSITIVE;
    interrupt->u.Interrupt.Level = slot.card.irq;
    interrupt->u.Interrupt.Vector = slot.card.irq;
    interrupt->u.Interrupt.Affinity = 1;
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(list);
    return STATUS_SUCCESS;
}

NTSTATUS readConfig(const Slot& slot, PIO_STACK_LOCATION stack, PIRP irp) {
    const auto& params = stack->Parameters.ReadWriteConfig;
    if (slot.card.failConfigRead) {
        return STATUS_DEVICE_NOT_READY;
    }
    if (params.WhichSpace != PCI_WHICHSPACE_CONFIG || params.Buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const std::vector<std::uint8_t> space = configSpace(slot.card);
    if (params.Offset >= space.size()) {
        return STATUS_INVALID_PARAMETER;
    }
    const std::size_t length = std::min<std::size_t>(params.Length, space.size() - params.Offset);
    RtlCopyMemory(params.Buffer, space.data() + params.Offset, length);
    irp->IoStatus.Information = length;
    return STATUS_SUCCESS;
}

NTSTATUS answerTarget(PDEVICE_OBJECT device, PIO_STACK_LOCATION stack, PIRP irp) {
    if (stack->Parameters.QueryDeviceRelations.Type != TargetDeviceRelation) {
        return irp->IoStatus.Status;
    }
    auto* relations = static_cast<PDEVICE_RELATIONS>(
        ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), poolTag));
    if (relations == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    relations->Count = 1;
    relations->Objects[0] = device;
    ObReferenceObject(device);
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
    return STATUS_SUCCESS;
}

} // namespace

NTSTATUS createCardDevice(BusExtension* bus, std::size_t slot) {
    PDEVICE_OBJECT device = nullptr;
    const NTSTATUS status =
        IoCreateDevice(bus->self->DriverObject, sizeof(CardExtension), nullptr,
                       FILE_DEVICE_BUS_EXTENDER, FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* card = new (device->DeviceExtension) CardExtension;
    card->self = device;
    card->bus = bus;
    card->slot = slot;
    device->Flags |= DO_BUS_ENUMERATED_DEVICE | DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    bus->cards[slot] = device;
    return STATUS_SUCCESS;
}

void purgeRemovedCards(BusExtension* bus) {
    for (PDEVICE_OBJECT& device : bus->cards) {
        if (device != nullptr && device->AttachedDevice == nullptr &&
            static_cast<CardExtension*>(device->DeviceExtension)->removedWhileOut) {
            deleteCardDevice(device);
            device = nullptr;
        }
    }
}

void deleteCardDevice(PDEVICE_OBJECT device) {
    IoDeleteDevice(device);
}

NTSTATUS cardPnp(PDEVICE_OBJECT device, PIRP irp) {
    auto* card = static_cast<CardExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const std::optional<Slot> found = slotAt(card->slot);
    Slot slot = found.value_or(Slot{});
    const bool later = slot.card.completeLater;
    NTSTATUS status = irp->IoStatus.Status;

    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = slot.card.startStatus;
        if (NT_SUCCESS(status)) {
            card->state = PdoState::started;
        }
        break;
    case IRP_MN_QUERY_STOP_DEVICE:
        card->state = PdoState::stopPending;
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        if (card->state == PdoState::stopPending || card->state == PdoState::removePending) {
            card->state = PdoState::started;
        }
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_STOP_DEVICE:
        card->state = PdoState::stopped;
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
        card->state = PdoState::removePending;
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        card->state = PdoState::surpriseRemoved;
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE:
        // The device object stays while the card is plugged in: the bus still reports it.
        card->state = PdoState::notStarted;
        card->removedWhileOut = !found || !slot.present;
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_QUERY_ID:
        status = answerId(slot, irp, stack->Parameters.QueryId.IdType);
        break;
    case IRP_MN_QUERY_DEVICE_TEXT:
        status = answerText(slot, irp, stack->Parameters.QueryDeviceText.DeviceTextType);
        break;
    case IRP_MN_QUERY_CAPABILITIES:
        status = answerCapabilities(slot, stack);
        break;
    case IRP_MN_QUERY_BUS_INFORMATION:
        status = answerBusInformation(slot, irp);
        break;
    case IRP_MN_QUERY_RESOURCES:
        status = answerResources(slot, irp);
        break;
    case IRP_MN_READ_CONFIG:
        status = readConfig(slot, stack, irp);
        break;
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        status = answerTarget(device, stack, irp);
        break;
    default:
        break;
    }
    irp->IoStatus.Status = status;
    return finishRequest(irp, later);
}

} // namespace winsim::pci
