#include "pnp/resources.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace winsim::pnp {

namespace {

constexpr std::size_t partialOffset = offsetof(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList) +
                                      offsetof(CM_PARTIAL_RESOURCE_LIST, PartialDescriptors);
constexpr ULONG sanityLimit = 256; // no list of ours comes near this many entries

template <class List, class Descriptor> std::vector<Descriptor*> walk(List* list) {
    std::vector<Descriptor*> out;
    if (list == nullptr) {
        return out;
    }
    auto* full = list->List;
    for (ULONG i = 0; i < list->Count; ++i) {
        auto* partial = full->PartialResourceList.PartialDescriptors;
        const ULONG count = full->PartialResourceList.Count;
        for (ULONG j = 0; j < count; ++j) {
            out.push_back(&partial[j]);
        }
        full = reinterpret_cast<decltype(full)>(partial + count);
    }
    return out;
}

} // namespace

std::size_t resourceListSize(const CM_RESOURCE_LIST* list) {
    if (list == nullptr || list->Count > sanityLimit) {
        return 0;
    }
    std::size_t size = offsetof(CM_RESOURCE_LIST, List);
    const auto* full = list->List;
    for (ULONG i = 0; i < list->Count; ++i) {
        const ULONG count = full->PartialResourceList.Count;
        if (count > sanityLimit) {
            return 0;
        }
        size += partialOffset + count * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR);
        full = reinterpret_cast<const CM_FULL_RESOURCE_DESCRIPTOR*>(
            full->PartialResourceList.PartialDescriptors + count);
    }
    return size;
}

std::optional<ResourceList> ResourceList::copyOf(const CM_RESOURCE_LIST* list) {
    const std::size_t size = resourceListSize(list);
    if (size == 0) {
        return std::nullopt;
    }
    ResourceList copy;
    copy.words_.assign((size + 7) / 8, 0);
    std::memcpy(copy.words_.data(), list, size);
    return copy;
}

std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR*> ResourceList::descriptors() {
    return walk<CM_RESOURCE_LIST, CM_PARTIAL_RESOURCE_DESCRIPTOR>(get());
}

std::vector<const CM_PARTIAL_RESOURCE_DESCRIPTOR*> ResourceList::descriptors() const {
    return walk<const CM_RESOURCE_LIST, const CM_PARTIAL_RESOURCE_DESCRIPTOR>(get());
}

ResourceList translate(const ResourceList& raw, bool portAsMemory) {
    ResourceList translated = raw;
    for (CM_PARTIAL_RESOURCE_DESCRIPTOR* d : translated.descriptors()) {
        if (d->Type == CmResourceTypePort && portAsMemory) {
            d->Type = CmResourceTypeMemory;
            d->Flags = CM_RESOURCE_MEMORY_READ_WRITE;
        } else if (d->Type == CmResourceTypeInterrupt) {
            const ULONG irq = d->u.Interrupt.Level;
            d->u.Interrupt.Level = 27 - irq;
            d->u.Interrupt.Vector = 0x30 + irq;
        }
    }
    return translated;
}

std::string describe(const ResourceList& list) {
    std::string text;
    char part[96];
    for (const CM_PARTIAL_RESOURCE_DESCRIPTOR* d : list.descriptors()) {
        part[0] = 0;
        switch (d->Type) {
        case CmResourceTypePort:
        case CmResourceTypeMemory: {
            const auto start = static_cast<unsigned long long>(d->u.Port.Start.QuadPart);
            const unsigned long long end = start + (d->u.Port.Length ? d->u.Port.Length - 1 : 0);
            std::snprintf(part, sizeof part, "%s 0x%llX-0x%llX",
                          d->Type == CmResourceTypePort ? "I/O" : "memory", start, end);
            break;
        }
        case CmResourceTypeInterrupt:
            std::snprintf(part, sizeof part, "interrupt level %lu vector 0x%lX affinity 0x%lX",
                          static_cast<unsigned long>(d->u.Interrupt.Level),
                          static_cast<unsigned long>(d->u.Interrupt.Vector),
                          static_cast<unsigned long>(d->u.Interrupt.Affinity));
            break;
        default:
            std::snprintf(part, sizeof part, "resource type %u", d->Type);
            break;
        }
        if (!text.empty()) {
            text += ", ";
        }
        text += part;
    }
    return text.empty() ? "none" : text;
}

} // namespace winsim::pnp
