#include "user/key_table.h"

namespace winsim::user {

HKEY KeyTable::add(std::shared_ptr<reg::Key> key, REGSAM access) {
    const std::uintptr_t value = next_;
    next_ += 4;
    handles_.emplace(value, KeyHandle{std::move(key), access});
    return reinterpret_cast<HKEY>(value);
}

KeyHandle* KeyTable::find(HKEY handle) {
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == handles_.end() ? nullptr : &it->second;
}

bool KeyTable::close(HKEY handle) {
    return handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

std::vector<std::string> KeyTable::paths() const {
    std::vector<std::string> out;
    for (const auto& [value, handle] : handles_) {
        out.push_back(handle.key->path());
    }
    return out;
}

REGSAM map_key_access(REGSAM desired) {
    REGSAM granted = desired & (KEY_ALL_ACCESS | SYNCHRONIZE);
    if ((desired & (MAXIMUM_ALLOWED | GENERIC_ALL)) != 0) {
        granted |= KEY_ALL_ACCESS;
    }
    if ((desired & GENERIC_READ) != 0) {
        granted |= KEY_READ;
    }
    if ((desired & GENERIC_WRITE) != 0) {
        granted |= KEY_WRITE;
    }
    return granted;
}

} // namespace winsim::user
