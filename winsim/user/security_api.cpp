// Key security: RegGetKeySecurity hands out the registry's own descriptor block, which
// RegSetKeySecurity takes back; an absolute descriptor without a DACL (or with a NULL DACL)
// opens the key to all.
#include "registry/registry.h"
#include "registry/security.h"
#include "user/api.h"
#include "user/registry_keys.h"

#include <cstring>

namespace winsim::user {
namespace {

// The registry's blob starts with 'Q'; an absolute descriptor starts with its revision (1).
constexpr std::uint8_t registry_blob_magic = 'Q';

std::optional<reg::Dacl> dacl_of_descriptor(const void* descriptor) {
    const auto* bytes = static_cast<const std::uint8_t*>(descriptor);
    if (bytes[0] == registry_blob_magic) {
        return reg::decode_security_descriptor(
            std::span<const std::uint8_t>(bytes, reg::security_descriptor_size));
    }
    const auto* absolute = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
    if (absolute->Revision != SECURITY_DESCRIPTOR_REVISION ||
        (absolute->Control & SE_SELF_RELATIVE) != 0) {
        return std::nullopt;
    }
    const bool has_dacl = (absolute->Control & SE_DACL_PRESENT) != 0 && absolute->Dacl != nullptr;
    // The simulated registry keeps no access lists: a DACL given back counts as the usual one.
    return has_dacl ? reg::Dacl::normal : reg::Dacl::none;
}

} // namespace
} // namespace winsim::user

using namespace winsim::user;
namespace reg = winsim::reg;

extern "C" {

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         DWORD dwRevision) {
    if (auto error = injected("InitializeSecurityDescriptor")) {
        return fail(*error);
    }
    if (pSecurityDescriptor == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::memset(pSecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
    static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                                      PACL pDacl, BOOL bDaclDefaulted) {
    if (auto error = injected("SetSecurityDescriptorDacl")) {
        return fail(*error);
    }
    auto* descriptor = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    if (descriptor == nullptr || descriptor->Revision != SECURITY_DESCRIPTOR_REVISION ||
        (descriptor->Control & SE_SELF_RELATIVE) != 0) {
        return fail(ERROR_INVALID_SECURITY_DESCR);
    }
    descriptor->Control &= static_cast<WORD>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
    descriptor->Dacl = nullptr;
    if (bDaclPresent) {
        descriptor->Control |= SE_DACL_PRESENT;
        descriptor->Dacl = pDacl;
        if (bDaclDefaulted) {
            descriptor->Control |= SE_DACL_DEFAULTED;
        }
    }
    return TRUE;
}

BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    return pSecurityDescriptor != nullptr && dacl_of_descriptor(pSecurityDescriptor).has_value();
}

DWORD WINAPI GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (pSecurityDescriptor == nullptr) {
        return 0;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(pSecurityDescriptor);
    return bytes[0] == 'Q' ? static_cast<DWORD>(reg::security_descriptor_size)
                           : static_cast<DWORD>(sizeof(SECURITY_DESCRIPTOR));
}

LONG WINAPI RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                              PSECURITY_DESCRIPTOR pSecurityDescriptor,
                              LPDWORD lpcbSecurityDescriptor) {
    if (auto error = injected("RegGetKeySecurity")) {
        return static_cast<LONG>(*error);
    }
    if (lpcbSecurityDescriptor == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    ResolvedKey key;
    if (LONG error = resolve_key_with_access(hKey, READ_CONTROL, key); error != ERROR_SUCCESS) {
        return error;
    }
    std::vector<std::uint8_t> blob;
    if (reg::Status status = key.key->get_security(blob); status != reg::Status::ok) {
        return static_cast<LONG>(reg::to_win32_error(status));
    }
    const DWORD room = *lpcbSecurityDescriptor;
    *lpcbSecurityDescriptor = static_cast<DWORD>(blob.size());
    if (pSecurityDescriptor == nullptr || room < blob.size()) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(pSecurityDescriptor, blob.data(), blob.size());
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                              PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (auto error = injected("RegSetKeySecurity")) {
        return static_cast<LONG>(*error);
    }
    if (pSecurityDescriptor == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    ResolvedKey key;
    if (LONG error = resolve_key(hKey, key); error != ERROR_SUCCESS) {
        return error;
    }
    if ((SecurityInformation & DACL_SECURITY_INFORMATION) == 0) {
        return ERROR_SUCCESS; // owner, group and audit lists are not kept
    }
    if (LONG error = check_access(key, WRITE_DAC); error != ERROR_SUCCESS) {
        return error;
    }
    const std::optional<reg::Dacl> dacl = dacl_of_descriptor(pSecurityDescriptor);
    if (!dacl) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    const std::vector<std::uint8_t> blob = reg::encode_security_descriptor(*dacl);
    return static_cast<LONG>(reg::to_win32_error(key.key->set_security(blob)));
}

} // extern "C"
