// The configuration manager: device nodes of the running tree.
#include "registry/names.h"
#include "user/api.h"
#include "user/devices.h"

#include <cstring>

using namespace winsim::user;

extern "C" {

CONFIGRET WINAPI CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags) {
    if (auto error = injected("CM_Reenumerate_DevNode")) {
        return *error;
    }
    if ((ulFlags & ~static_cast<ULONG>(CM_REENUMERATE_BITS)) != 0) {
        return CR_INVALID_FLAG;
    }
    const std::optional<std::string> instance = sys().state().devnodes.instance_of(dnDevInst);
    if (!instance) {
        return CR_INVALID_DEVNODE;
    }
    DeviceTree* tree = sys().device_tree();
    if (tree == nullptr || !live_device(*instance)) {
        return CR_NO_SUCH_DEVNODE;
    }
    return tree->reenumerate(*instance) >= 0 ? CR_SUCCESS : CR_FAILURE;
}

CONFIGRET WINAPI CM_Get_Device_ID_Size(PULONG pulLen, DEVINST dnDevInst, ULONG ulFlags) {
    if (pulLen == nullptr) {
        return CR_INVALID_POINTER;
    }
    const std::optional<std::string> instance = sys().state().devnodes.instance_of(dnDevInst);
    if (!instance) {
        return CR_INVALID_DEVNODE;
    }
    *pulLen = static_cast<ULONG>(instance->size());
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_IDA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
    if (Buffer == nullptr) {
        return CR_INVALID_POINTER;
    }
    const std::optional<std::string> instance = sys().state().devnodes.instance_of(dnDevInst);
    if (!instance) {
        return CR_INVALID_DEVNODE;
    }
    if (BufferLen < instance->size()) {
        return CR_BUFFER_SMALL;
    }
    std::memcpy(Buffer, instance->data(), instance->size());
    if (BufferLen > instance->size()) {
        Buffer[instance->size()] = '\0';
    }
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags) {
    if (pdnDevInst == nullptr) {
        return CR_INVALID_POINTER;
    }
    const std::optional<std::string> instance = sys().state().devnodes.instance_of(dnDevInst);
    if (!instance) {
        return CR_INVALID_DEVNODE;
    }
    const std::optional<DeviceNode> node = live_device(*instance);
    if (!node || !node->parent) {
        return CR_NO_SUCH_DEVNODE;
    }
    *pdnDevInst = sys().state().devnodes.number_of(*node->parent);
    return CR_SUCCESS;
}

} // extern "C"
