#include "kernel/pool.h"

#include "kernel/objects.h"
#include "kernel/verifier.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace winsim::kernel {

std::string tagText(ULONG tag) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<unsigned char>((tag >> (8 * i)) & 0xFF);
        if (byte >= 0x20 && byte < 0x7F) {
            text += static_cast<char>(byte);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            text += hex;
        }
    }
    return text;
}

namespace {

std::string pointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

// The protected-pool bit does not take part in tag comparisons.
constexpr ULONG tagMask = 0x7FFFFFFF;

} // namespace

Pool::Pool(Verifier& verifier) : verifier_(verifier) {}

Pool::~Pool() {
    for (auto& [block, info] : live_) {
        std::free(block);
    }
}

void* Pool::allocate(POOL_TYPE type, SIZE_T bytes, ULONG tag, DriverRecord* owner) {
    // A zero-byte request still gets a distinct block, as on Windows.
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        return nullptr;
    }
    std::memset(block, poolFillByte, bytes == 0 ? 1 : bytes);
    const std::lock_guard guard(lock_);
    freed_.erase(block);
    live_[block] = Block{bytes, tag, type, owner};
    ++allocations_;
    return block;
}

void Pool::free(void* block, std::optional<ULONG> tag) {
    std::unique_lock lock(lock_);
    const auto it = live_.find(block);
    if (it == live_.end()) {
        const bool twice = freed_.contains(block);
        lock.unlock();
        if (block == nullptr) {
            verifier_.report(Check::PoolUnknownFree, "ExFreePool(NULL)");
        } else if (twice) {
            verifier_.report(Check::PoolDoubleFree,
                             "pool block " + pointerText(block) + " freed twice");
        } else {
            verifier_.report(Check::PoolUnknownFree,
                             "ExFreePool of " + pointerText(block) + ", which is no pool block");
        }
        return;
    }
    if (tag && ((*tag ^ it->second.tag) & tagMask) != 0) {
        const ULONG actual = it->second.tag;
        lock.unlock();
        verifier_.report(Check::PoolTagMismatch,
                         "ExFreePoolWithTag of " + pointerText(block) + " with tag '" +
                             tagText(*tag) + "'; the block's tag is '" + tagText(actual) + "'");
        return;
    }
    const std::size_t bytes = it->second.bytes;
    live_.erase(it);
    freed_.insert(block);
    lock.unlock();
    std::memset(block, poolFreedByte, bytes);
    std::free(block);
}

bool Pool::isLive(const void* block) const {
    const std::lock_guard guard(lock_);
    return live_.contains(const_cast<void*>(block));
}

std::size_t Pool::outstanding(ULONG tag) const {
    const std::lock_guard guard(lock_);
    std::size_t n = 0;
    for (const auto& [block, info] : live_) {
        n += info.tag == tag ? 1 : 0;
    }
    return n;
}

std::size_t Pool::outstandingBytes(ULONG tag) const {
    const std::lock_guard guard(lock_);
    std::size_t n = 0;
    for (const auto& [block, info] : live_) {
        n += info.tag == tag ? info.bytes : 0;
    }
    return n;
}

std::size_t Pool::outstandingBlocks() const {
    const std::lock_guard guard(lock_);
    return live_.size();
}

std::uint64_t Pool::totalAllocations() const {
    const std::lock_guard guard(lock_);
    return allocations_;
}

std::vector<PoolUsage> Pool::usageWhere(const DriverRecord* owner, bool all) const {
    std::map<ULONG, PoolUsage> byTag;
    for (const auto& [block, info] : live_) {
        if (all || info.owner == owner) {
            auto& u = byTag[info.tag];
            u.tag = info.tag;
            ++u.blocks;
            u.bytes += info.bytes;
        }
    }
    std::vector<PoolUsage> out;
    for (const auto& [tag, u] : byTag) {
        out.push_back(u);
    }
    return out;
}

std::vector<PoolUsage> Pool::usage() const {
    const std::lock_guard guard(lock_);
    return usageWhere(nullptr, true);
}

std::vector<PoolUsage> Pool::usageOf(const DriverRecord* owner) const {
    const std::lock_guard guard(lock_);
    return usageWhere(owner, false);
}

std::string Pool::leakReport() const {
    std::string out;
    for (const auto& u : usage()) {
        out += "'" + tagText(u.tag) + "': " + std::to_string(u.blocks) + " blocks, " +
               std::to_string(u.bytes) + " bytes\n";
    }
    return out;
}

std::size_t Pool::reportLeaks(const DriverRecord* owner, bool all, const std::string& context) {
    std::vector<PoolUsage> leaks;
    {
        const std::lock_guard guard(lock_);
        leaks = usageWhere(owner, all);
    }
    std::size_t blocks = 0;
    for (const auto& u : leaks) {
        blocks += u.blocks;
        verifier_.report(Check::PoolLeak, context + ": pool tag '" + tagText(u.tag) +
                                              "': " + std::to_string(u.blocks) + " blocks, " +
                                              std::to_string(u.bytes) + " bytes not freed");
    }
    return blocks;
}

} // namespace winsim::kernel
