// Resource lists for the card's start request, built from partial descriptors.
#pragma once

#include <wdm.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace qeltest {

CM_PARTIAL_RESOURCE_DESCRIPTOR portResource(LONGLONG start, ULONG length,
                                            USHORT flags = CM_RESOURCE_PORT_IO |
                                                           CM_RESOURCE_PORT_16_BIT_DECODE);
CM_PARTIAL_RESOURCE_DESCRIPTOR memoryResource(LONGLONG start, ULONG length);
CM_PARTIAL_RESOURCE_DESCRIPTOR interruptResource(ULONG level, ULONG vector, KAFFINITY affinity);

// A CM_RESOURCE_LIST with one full descriptor holding the given partial descriptors (or, with
// `fullDescriptors` 0, a list that says it holds none).
class ResourceList {
  public:
    ResourceList(std::initializer_list<CM_PARTIAL_RESOURCE_DESCRIPTOR> partials,
                 ULONG fullDescriptors = 1);
    PCM_RESOURCE_LIST get() { return reinterpret_cast<PCM_RESOURCE_LIST>(storage_.data()); }

  private:
    std::vector<std::uint64_t> storage_; // aligned for the list
};

} // namespace qeltest
