#include "machine/ports_class_installer.h"

#include "machine/installed_package.h"
#include "pnp/installer.h"
#include "registry/names.h"

#include <cstdint>
#include <vector>

namespace winsim::machine {

namespace {

// The database's bitmap: COMn is bit n - 1, least significant bit first in each byte. It holds
// 256 names and grows by as many at a time.
constexpr std::size_t com_db_step_bytes = 32;

class ComDb {
  public:
    explicit ComDb(reg::Registry& registry)
        : key_(registry.create_key(std::string(com_db_key)).key) {
        reg::Value value;
        if (key_ != nullptr && key_->query_value(com_db_value, value) == reg::Status::ok &&
            value.type == reg::value_type::binary) {
            bits_ = value.data;
        }
        grow(com_db_step_bytes);
    }

    bool taken(unsigned number) const {
        const std::size_t byte = (number - 1) / 8;
        return byte < bits_.size() && (bits_[byte] & (1u << ((number - 1) % 8))) != 0;
    }

    void claim(unsigned number) {
        grow((number - 1) / 8 + 1);
        bits_[(number - 1) / 8] |= static_cast<std::uint8_t>(1u << ((number - 1) % 8));
    }

    std::optional<unsigned> lowestFree(unsigned from) const {
        for (unsigned number = from; number <= max_com_number; ++number) {
            if (!taken(number)) {
                return number;
            }
        }
        return std::nullopt;
    }

    void save() const {
        if (key_ != nullptr) {
            key_->set_value(com_db_value, reg::value_type::binary, bits_);
        }
    }

  private:
    // At least this many bytes, in whole steps.
    void grow(std::size_t bytes) {
        const std::size_t steps = (bytes + com_db_step_bytes - 1) / com_db_step_bytes;
        if (bits_.size() < steps * com_db_step_bytes) {
            bits_.resize(steps * com_db_step_bytes, 0);
        }
    }

    std::shared_ptr<reg::Key> key_;
    std::vector<std::uint8_t> bits_;
};

} // namespace

std::optional<unsigned> comNumberOf(std::string_view name) {
    if (name.size() < 4 || name.size() > 7 || !reg::names_equal(name.substr(0, 3), "COM") ||
        name[3] == '0') {
        return std::nullopt;
    }
    unsigned number = 0;
    for (const char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number > max_com_number) {
        return std::nullopt;
    }
    return number;
}

std::optional<std::string> installPort(reg::Registry& registry, const std::string& instance) {
    const auto instanceKey = registry.open_key(std::string(pnp::enumRoot) + instance);
    if (instanceKey == nullptr) {
        return std::nullopt;
    }
    const auto parameters = registry.create_key(instanceKey, "Device Parameters").key;
    if (parameters == nullptr) {
        return std::nullopt;
    }
    ComDb comDb(registry);
    std::string portName;
    if (parameters->get_string("PortName", portName) == reg::Status::ok && !portName.empty()) {
        if (const auto number = comNumberOf(portName)) {
            comDb.claim(*number);
        }
    } else {
        const auto number = comDb.lowestFree(first_card_com_number);
        if (!number) {
            return std::nullopt;
        }
        comDb.claim(*number);
        portName = "COM" + std::to_string(*number);
        parameters->set_string("PORTNAME", portName);
    }
    comDb.save();
    std::string description;
    instanceKey->get_string("DeviceDesc", description);
    instanceKey->set_string("FRIENDLYNAME", description + " (" + portName + ")");
    return portName;
}

} // namespace winsim::machine
