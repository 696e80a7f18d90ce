#include "resources.h"

#include <algorithm>
#include <cstddef>

namespace qeltest {

CM_PARTIAL_RESOURCE_DESCRIPTOR portResource(LONGLONG start, ULONG length, USHORT flags) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypePort;
    d.ShareDisposition = CmResourceShareDeviceExclusive;
    d.Flags = flags;
    d.u.Port.Start.QuadPart = start;
    d.u.Port.Length = length;
    return d;
}

CM_PARTIAL_RESOURCE_DESCRIPTOR memoryResource(LONGLONG start, ULONG length) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeMemory;
    d.ShareDisposition = CmResourceShareDeviceExclusive;
    d.Flags = CM_RESOURCE_MEMORY_READ_WRITE;
    d.u.Memory.Start.QuadPart = start;
    d.u.Memory.Length = length;
    return d;
}

CM_PARTIAL_RESOURCE_DESCRIPTOR interruptResource(ULONG level, ULONG vector, KAFFINITY affinity) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeInterrupt;
    d.ShareDisposition = CmResourceShareShared;
    d.Flags = CM_RESOURCE_INTERRUPT_LEVEL_SENSITIVE;
    d.u.Interrupt.Level = level;
    d.u.Interrupt.Vector = vector;
    d.u.Interrupt.Affinity = affinity;
    return d;
}

ResourceList::ResourceList(std::initializer_list<CM_PARTIAL_RESOURCE_DESCRIPTOR> partials,
                           ULONG fullDescriptors) {
    const std::size_t count = std::max<std::size_t>(partials.size(), 1);
    const std::size_t bytes = offsetof(CM_RESOURCE_LIST, List) +
                              offsetof(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList) +
                              offsetof(CM_PARTIAL_RESOURCE_LIST, PartialDescriptors) +
                              count * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR);
    storage_.assign((bytes + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    PCM_RESOURCE_LIST list = get();
    list->Count = fullDescriptors;
    list->List[0].InterfaceType = PCIBus;
    list->List[0].BusNumber = 2;
    CM_PARTIAL_RESOURCE_LIST& partial = list->List[0].PartialResourceList;
    partial.Version = 1;
    partial.Revision = 1;
    partial.Count = static_cast<ULONG>(partials.size());
    std::copy(partials.begin(), partials.end(), partial.PartialDescriptors);
}

} // namespace qeltest
