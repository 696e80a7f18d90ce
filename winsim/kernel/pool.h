// Executive pool: every block is a separate heap allocation (so AddressSanitizer sees overruns
// and use after free), filled with a pattern rather than zeros, and accounted per pool tag and per
// owning driver (the innermost driver routine running when it was allocated).
#pragma once

#include "wdm.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace winsim::kernel {

class Verifier;
struct DriverRecord;

// Builds a tag from its four bytes as they lie in memory: makeTag("Ddk ").
constexpr ULONG makeTag(const char (&text)[5]) {
    return static_cast<ULONG>(static_cast<unsigned char>(text[0])) |
           (static_cast<ULONG>(static_cast<unsigned char>(text[1])) << 8) |
           (static_cast<ULONG>(static_cast<unsigned char>(text[2])) << 16) |
           (static_cast<ULONG>(static_cast<unsigned char>(text[3])) << 24);
}
// The tag's bytes as text ("Ddk "); unprintable bytes as \xNN.
std::string tagText(ULONG tag);

inline constexpr ULONG tagNone = makeTag("None");    // ExAllocatePool
inline constexpr ULONG tagSystem = makeTag("IoSy");  // buffers the I/O manager hands to drivers
inline constexpr ULONG tagString = makeTag("Strg");  // buffers of the Rtl string routines
inline constexpr unsigned char poolFillByte = 0xCD;  // new blocks
inline constexpr unsigned char poolFreedByte = 0xDD; // blocks about to be freed

struct PoolUsage {
    ULONG tag = 0;
    std::size_t blocks = 0;
    std::size_t bytes = 0;
};

class Pool {
  public:
    explicit Pool(Verifier& verifier);
    ~Pool(); // frees whatever is left (after the leak report)
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // No failure injection here: the entry points ask Faults first.
    void* allocate(POOL_TYPE type, SIZE_T bytes, ULONG tag, DriverRecord* owner);
    // Frees a block; a tag, when given, must match the block's. Double frees, unknown pointers
    // and tag mismatches are violations (and free nothing).
    void free(void* block, std::optional<ULONG> tag);

    bool isLive(const void* block) const;
    std::size_t outstanding(ULONG tag) const; // live blocks with the tag
    std::size_t outstandingBytes(ULONG tag) const;
    std::size_t outstandingBlocks() const; // all tags
    std::uint64_t totalAllocations() const;
    std::vector<PoolUsage> usage() const; // live blocks per tag, by tag
    std::vector<PoolUsage> usageOf(const DriverRecord* owner) const;
    // One line per tag with live blocks ("'Ddk ': 2 blocks, 64 bytes"); empty when none.
    std::string leakReport() const;
    // Records a PoolLeak violation per tag with live blocks (of one owner, or of all when
    // `owner` is nullptr and `all` is true). Returns the number of leaked blocks.
    std::size_t reportLeaks(const DriverRecord* owner, bool all, const std::string& context);

  private:
    struct Block {
        std::size_t bytes;
        ULONG tag;
        POOL_TYPE type;
        DriverRecord* owner;
    };
    std::vector<PoolUsage> usageWhere(const DriverRecord* owner, bool all) const; // lock held

    Verifier& verifier_;
    mutable std::mutex lock_;
    std::unordered_map<void*, Block> live_;
    std::unordered_set<void*> freed_; // freed and not handed out again: a second free is double
    std::uint64_t allocations_ = 0;
};

} // namespace winsim::kernel
