// Names of power states and power requests, as the narration and the tools print them.
#include "pnp/pnp_manager.h"

namespace winsim::pnp {

namespace {

template <std::size_t N>
std::string nameOf(const char* const (&names)[N], ULONG value, const char* prefix) {
    if (value < N) {
        return names[value];
    }
    return prefix + std::to_string(value);
}

} // namespace

std::string systemPowerName(SYSTEM_POWER_STATE state) {
    static const char* const names[] = {
        "PowerSystemUnspecified", "PowerSystemWorking",   "PowerSystemSleeping1",
        "PowerSystemSleeping2",   "PowerSystemSleeping3", "PowerSystemHibernate",
        "PowerSystemShutdown",
    };
    return nameOf(names, static_cast<ULONG>(state), "PowerSystem#");
}

std::string devicePowerName(DEVICE_POWER_STATE state) {
    static const char* const names[] = {
        "PowerDeviceUnspecified", "PowerDeviceD0", "PowerDeviceD1",
        "PowerDeviceD2",          "PowerDeviceD3",
    };
    return nameOf(names, static_cast<ULONG>(state), "PowerDevice#");
}

std::string powerMinorName(UCHAR minor) {
    static const char* const names[] = {
        "IRP_MN_WAIT_WAKE",
        "IRP_MN_POWER_SEQUENCE",
        "IRP_MN_SET_POWER",
        "IRP_MN_QUERY_POWER",
    };
    return nameOf(names, minor, "IRP_MN_POWER_");
}

std::string powerStateName(POWER_STATE_TYPE type, ULONG state) {
    return type == SystemPowerState ? systemPowerName(static_cast<SYSTEM_POWER_STATE>(state))
                                    : devicePowerName(static_cast<DEVICE_POWER_STATE>(state));
}

} // namespace winsim::pnp
