#include "pnp/irp_sender.h"

#include "kernel/irp_helpers.h"

#include <cstdio>

namespace winsim::pnp {

PnpReply sendPnp(PDEVICE_OBJECT pdo, UCHAR minor,
                 const std::function<void(IO_STACK_LOCATION&)>& fill) {
    const IO_STATUS_BLOCK result =
        kernel::sendPnpSync(pdo, minor, [&](PIRP irp, PIO_STACK_LOCATION stack) {
            irp->IoStatus.Information = 0;
            RtlZeroMemory(&stack->Parameters, sizeof stack->Parameters);
            if (fill) {
                fill(*stack);
            }
        });
    return PnpReply{result.Status, result.Information};
}

std::string minorName(UCHAR minor) {
    static const char* const names[] = {
        "IRP_MN_START_DEVICE",
        "IRP_MN_QUERY_REMOVE_DEVICE",
        "IRP_MN_REMOVE_DEVICE",
        "IRP_MN_CANCEL_REMOVE_DEVICE",
        "IRP_MN_STOP_DEVICE",
        "IRP_MN_QUERY_STOP_DEVICE",
        "IRP_MN_CANCEL_STOP_DEVICE",
        "IRP_MN_QUERY_DEVICE_RELATIONS",
        "IRP_MN_QUERY_INTERFACE",
        "IRP_MN_QUERY_CAPABILITIES",
        "IRP_MN_QUERY_RESOURCES",
        "IRP_MN_QUERY_RESOURCE_REQUIREMENTS",
        "IRP_MN_QUERY_DEVICE_TEXT",
        "IRP_MN_FILTER_RESOURCE_REQUIREMENTS",
        "IRP_MN_0x0E",
        "IRP_MN_READ_CONFIG",
        "IRP_MN_WRITE_CONFIG",
        "IRP_MN_EJECT",
        "IRP_MN_SET_LOCK",
        "IRP_MN_QUERY_ID",
        "IRP_MN_QUERY_PNP_DEVICE_STATE",
        "IRP_MN_QUERY_BUS_INFORMATION",
        "IRP_MN_DEVICE_USAGE_NOTIFICATION",
        "IRP_MN_SURPRISE_REMOVAL",
    };
    if (minor < sizeof names / sizeof names[0]) {
        return names[minor];
    }
    char text[24];
    std::snprintf(text, sizeof text, "IRP_MN_0x%02X", minor);
    return text;
}

} // namespace winsim::pnp
