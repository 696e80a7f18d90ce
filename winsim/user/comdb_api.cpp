// msports' COM port database over the registry bitmap
// "SYSTEM\CurrentControlSet\Control\COM Name Arbiter" / "ComDB" (COMn is bit n-1).
#include <msports.h>

#include "registry/registry.h"
#include "user/api.h"

#include <algorithm>
#include <cstring>

namespace winsim::user {
namespace {

constexpr std::string_view arbiter_key = "SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
constexpr std::string_view bitmap_value = "ComDB";
constexpr std::size_t default_bytes = COMDB_MIN_PORTS_ARBITRATED / 8;

bool valid(HCOMDB handle) {
    return sys().state().comdb.is_open(reinterpret_cast<std::uintptr_t>(handle));
}

reg::Bytes read_bitmap() {
    reg::Bytes bitmap;
    if (auto key = sys().registry().open_key(arbiter_key)) {
        reg::Value value;
        if (key->query_value(bitmap_value, value) == reg::Status::ok &&
            value.type == reg::value_type::binary) {
            bitmap = value.data;
        }
    }
    if (bitmap.size() < default_bytes) {
        bitmap.resize(default_bytes, 0);
    }
    return bitmap;
}

LONG write_bitmap(const reg::Bytes& bitmap) {
    reg::CreateResult key = sys().registry().create_key(arbiter_key);
    if (key.status != reg::Status::ok) {
        return ERROR_CANTWRITE;
    }
    return key.key->set_value(bitmap_value, reg::value_type::binary, bitmap) == reg::Status::ok
               ? ERROR_SUCCESS
               : ERROR_CANTWRITE;
}

bool in_range(const reg::Bytes& bitmap, DWORD number) {
    return number >= 1 && number <= bitmap.size() * 8;
}

bool taken(const reg::Bytes& bitmap, DWORD number) {
    return (bitmap[(number - 1) / 8] & (1u << ((number - 1) % 8))) != 0;
}

void set_taken(reg::Bytes& bitmap, DWORD number, bool value) {
    const auto bit = static_cast<std::uint8_t>(1u << ((number - 1) % 8));
    if (value) {
        bitmap[(number - 1) / 8] |= bit;
    } else {
        bitmap[(number - 1) / 8] &= static_cast<std::uint8_t>(~bit);
    }
}

// The bitmap, for a call about port COMn on a handle: false for a handle that is not open or a
// number outside the database.
bool read_bitmap_for_port(HCOMDB handle, DWORD number, reg::Bytes& bitmap) {
    if (!valid(handle)) {
        return false;
    }
    bitmap = read_bitmap();
    return in_range(bitmap, number);
}

} // namespace
} // namespace winsim::user

using namespace winsim::user;
namespace reg = winsim::reg;

extern "C" {

LONG WINAPI ComDBOpen(PHCOMDB PHComDB) {
    if (PHComDB == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *PHComDB = HCOMDB_INVALID_HANDLE_VALUE;
    if (auto error = injected("ComDBOpen")) {
        return static_cast<LONG>(*error);
    }
    if (sys().registry().create_key(arbiter_key).status != reg::Status::ok) {
        return ERROR_CANTOPEN;
    }
    *PHComDB = reinterpret_cast<HCOMDB>(sys().state().comdb.open());
    return ERROR_SUCCESS;
}

LONG WINAPI ComDBClose(HCOMDB HComDB) {
    if (auto error = injected("ComDBClose")) {
        return static_cast<LONG>(*error);
    }
    return sys().state().comdb.close(reinterpret_cast<std::uintptr_t>(HComDB))
               ? ERROR_SUCCESS
               : ERROR_INVALID_PARAMETER;
}

LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB HComDB, PBYTE Buffer, DWORD BufferSize,
                                     ULONG ReportType, LPDWORD MaxPortsReported) {
    if (auto error = injected("ComDBGetCurrentPortUsage")) {
        return static_cast<LONG>(*error);
    }
    if (!valid(HComDB)) {
        return ERROR_INVALID_PARAMETER;
    }
    const reg::Bytes bitmap = read_bitmap();
    const DWORD ports = static_cast<DWORD>(bitmap.size() * 8);
    if (Buffer == nullptr) {
        if (MaxPortsReported == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        *MaxPortsReported = ports;
        return ERROR_SUCCESS;
    }
    if (ReportType == CDB_REPORT_BITS) {
        const DWORD bytes = std::min<DWORD>(BufferSize, static_cast<DWORD>(bitmap.size()));
        std::memcpy(Buffer, bitmap.data(), bytes);
        if (MaxPortsReported != nullptr) {
            *MaxPortsReported = bytes * 8;
        }
        return ERROR_SUCCESS;
    }
    if (ReportType == CDB_REPORT_BYTES) {
        const DWORD count = std::min(BufferSize, ports);
        for (DWORD i = 0; i < count; ++i) {
            Buffer[i] = taken(bitmap, i + 1) ? 1 : 0;
        }
        if (MaxPortsReported != nullptr) {
            *MaxPortsReported = count;
        }
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_PARAMETER;
}

LONG WINAPI ComDBClaimNextFreePort(HCOMDB HComDB, LPDWORD ComNumber) {
    if (auto error = injected("ComDBClaimNextFreePort")) {
        return static_cast<LONG>(*error);
    }
    if (!valid(HComDB) || ComNumber == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    reg::Bytes bitmap = read_bitmap();
    for (DWORD number = 1; in_range(bitmap, number); ++number) {
        if (!taken(bitmap, number)) {
            set_taken(bitmap, number, true);
            *ComNumber = number;
            return write_bitmap(bitmap);
        }
    }
    return ERROR_LOG_FILE_FULL;
}

LONG WINAPI ComDBClaimPort(HCOMDB HComDB, DWORD ComNumber, BOOL ForceClaim, PBOOL Forced) {
    if (auto error = injected("ComDBClaimPort")) {
        return static_cast<LONG>(*error);
    }
    reg::Bytes bitmap;
    if (!read_bitmap_for_port(HComDB, ComNumber, bitmap)) {
        return ERROR_INVALID_PARAMETER;
    }
    const bool was_taken = taken(bitmap, ComNumber);
    if (Forced != nullptr) {
        *Forced = FALSE;
    }
    if (was_taken) {
        if (!ForceClaim) {
            return ERROR_SHARING_VIOLATION;
        }
        if (Forced != nullptr) {
            *Forced = TRUE;
        }
        return ERROR_SUCCESS;
    }
    set_taken(bitmap, ComNumber, true);
    return write_bitmap(bitmap);
}

LONG WINAPI ComDBReleasePort(HCOMDB HComDB, DWORD ComNumber) {
    if (auto error = injected("ComDBReleasePort")) {
        return static_cast<LONG>(*error);
    }
    reg::Bytes bitmap;
    if (!read_bitmap_for_port(HComDB, ComNumber, bitmap)) {
        return ERROR_INVALID_PARAMETER;
    }
    set_taken(bitmap, ComNumber, false);
    return write_bitmap(bitmap);
}

LONG WINAPI ComDBResizeDatabase(HCOMDB HComDB, DWORD NewSize) {
    if (auto error = injected("ComDBResizeDatabase")) {
        return static_cast<LONG>(*error);
    }
    if (!valid(HComDB)) {
        return ERROR_INVALID_PARAMETER;
    }
    reg::Bytes bitmap = read_bitmap();
    if (NewSize % 1024 != 0 || NewSize > COMDB_MAX_PORTS_ARBITRATED ||
        NewSize <= bitmap.size() * 8) {
        return ERROR_BAD_LENGTH;
    }
    bitmap.resize(NewSize / 8, 0);
    return write_bitmap(bitmap);
}

} // extern "C"
