// Resource lists for a device's start request: the raw list as the bus driver reported the
// device's configuration, and the translated list as the processor sees it (the HAL's rules:
// interrupt vector 0x30 + IRQ at IRQL 27 - IRQ; I/O ports unchanged, or mapped into memory where
// the platform maps them).
#pragma once

#include <wdm.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim::pnp {

class ResourceList {
  public:
    ResourceList() = default;
    // A copy of a list; nothing when the list's counts make no sense.
    static std::optional<ResourceList> copyOf(const CM_RESOURCE_LIST* list);

    PCM_RESOURCE_LIST get() {
        return words_.empty() ? nullptr : reinterpret_cast<PCM_RESOURCE_LIST>(words_.data());
    }
    const CM_RESOURCE_LIST* get() const {
        return words_.empty() ? nullptr : reinterpret_cast<const CM_RESOURCE_LIST*>(words_.data());
    }
    bool empty() const { return words_.empty(); }

    // The partial descriptors of every full descriptor, in order.
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR*> descriptors();
    std::vector<const CM_PARTIAL_RESOURCE_DESCRIPTOR*> descriptors() const;

  private:
    std::vector<std::uint64_t> words_; // the list's bytes, 8-byte aligned
};

// Size in bytes of a resource list as its counts describe it.
std::size_t resourceListSize(const CM_RESOURCE_LIST* list);

// The translated list for a raw one.
ResourceList translate(const ResourceList& raw, bool portAsMemory);

// "I/O 0x300-0x31F, IRQ 5" and the like, for the narration.
std::string describe(const ResourceList& list);

} // namespace winsim::pnp
