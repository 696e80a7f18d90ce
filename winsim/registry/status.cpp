#include "registry/status.h"

#include <ostream>

namespace winsim::reg {

std::string_view to_string(Status status) {
    switch (status) {
    case Status::ok:
        return "ok";
    case Status::not_found:
        return "not found";
    case Status::invalid_parameter:
        return "invalid parameter";
    case Status::key_deleted:
        return "key deleted";
    case Status::has_subkeys:
        return "key has subkeys";
    case Status::access_denied:
        return "access denied";
    case Status::no_more_items:
        return "no more items";
    case Status::wrong_type:
        return "wrong value type";
    case Status::corrupt:
        return "registry file corrupt";
    case Status::io_error:
        return "registry I/O failed";
    }
    return "unknown";
}

std::ostream& operator<<(std::ostream& out, Status status) {
    return out << to_string(status);
}

std::uint32_t to_ntstatus(Status status) {
    switch (status) {
    case Status::ok:
        return 0x00000000; // STATUS_SUCCESS
    case Status::not_found:
        return 0xC0000034; // STATUS_OBJECT_NAME_NOT_FOUND
    case Status::invalid_parameter:
        return 0xC000000D; // STATUS_INVALID_PARAMETER
    case Status::key_deleted:
        return 0xC000017C; // STATUS_KEY_DELETED
    case Status::has_subkeys:
        return 0xC0000121; // STATUS_CANNOT_DELETE
    case Status::access_denied:
        return 0xC0000022; // STATUS_ACCESS_DENIED
    case Status::no_more_items:
        return 0x8000001A; // STATUS_NO_MORE_ENTRIES
    case Status::wrong_type:
        return 0xC0000024; // STATUS_OBJECT_TYPE_MISMATCH
    case Status::corrupt:
        return 0xC000014C; // STATUS_REGISTRY_CORRUPT
    case Status::io_error:
        return 0xC000014D; // STATUS_REGISTRY_IO_FAILED
    }
    return 0xC0000001; // STATUS_UNSUCCESSFUL
}

std::uint32_t to_win32_error(Status status) {
    switch (status) {
    case Status::ok:
        return 0; // ERROR_SUCCESS
    case Status::not_found:
        return 2; // ERROR_FILE_NOT_FOUND
    case Status::invalid_parameter:
        return 87; // ERROR_INVALID_PARAMETER
    case Status::key_deleted:
        return 1018; // ERROR_KEY_DELETED
    case Status::has_subkeys:
    case Status::access_denied:
        return 5; // ERROR_ACCESS_DENIED
    case Status::no_more_items:
        return 259; // ERROR_NO_MORE_ITEMS
    case Status::wrong_type:
        return 1630; // ERROR_UNSUPPORTED_TYPE
    case Status::corrupt:
        return 1015; // ERROR_REGISTRY_CORRUPT
    case Status::io_error:
        return 1016; // ERROR_REGISTRY_IO_FAILED
    }
    return 31; // ERROR_GEN_FAILURE
}

} // namespace winsim::reg
