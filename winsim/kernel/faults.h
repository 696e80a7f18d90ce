// Failure injection for every fallible kernel call, in one place.
//
// Each fallible entry point asks `shouldFail(call)` (pool allocations also pass their tag) before
// doing anything. The call is counted, and if a rule for that call name matches the occurrence,
// the call fails: with the rule's status where the call returns one, or with NULL.
//
// Occurrences are counted from 1, from the moment the rule was added: failNth("IoCreateDevice",
// 2) fails the second IoCreateDevice after that point. A rule with a pool tag counts only the
// allocations with that tag. Call counters run from the kernel's start (or resetCounters()), so a
// sweep can run a scenario once, read calls("X") = n, and then fail each of the n calls in turn.
//
// Call names are the Windows routine names: ExAllocatePoolWithTag (ExAllocatePool counts as it),
// IoCreateDevice, IoAttachDeviceToDeviceStack, IoRegisterDeviceInterface,
// IoSetDeviceInterfaceState, IoGetDeviceProperty, IoOpenDeviceRegistryKey, ZwSetValueKey,
// IoAllocateIrp, IoBuildSynchronousFsdRequest, PoRequestPowerIrp, RtlAnsiStringToUnicodeString
// (its allocation).
#pragma once

#include "winsim_basetypes.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::kernel {

namespace fault_call {
inline constexpr std::string_view ExAllocatePoolWithTag = "ExAllocatePoolWithTag";
inline constexpr std::string_view IoCreateDevice = "IoCreateDevice";
inline constexpr std::string_view IoAttachDeviceToDeviceStack = "IoAttachDeviceToDeviceStack";
inline constexpr std::string_view IoRegisterDeviceInterface = "IoRegisterDeviceInterface";
inline constexpr std::string_view IoSetDeviceInterfaceState = "IoSetDeviceInterfaceState";
inline constexpr std::string_view IoGetDeviceProperty = "IoGetDeviceProperty";
inline constexpr std::string_view IoOpenDeviceRegistryKey = "IoOpenDeviceRegistryKey";
inline constexpr std::string_view ZwSetValueKey = "ZwSetValueKey";
inline constexpr std::string_view IoAllocateIrp = "IoAllocateIrp";
inline constexpr std::string_view IoBuildSynchronousFsdRequest = "IoBuildSynchronousFsdRequest";
inline constexpr std::string_view PoRequestPowerIrp = "PoRequestPowerIrp";
inline constexpr std::string_view RtlAnsiStringToUnicodeString = "RtlAnsiStringToUnicodeString";
} // namespace fault_call

// The status a failing call returns when its rule names none (STATUS_INSUFFICIENT_RESOURCES).
NTSTATUS defaultFaultStatus(std::string_view call);

struct FaultRule {
    enum class When {
        Nth,    // the occurrences listed (one or more)
        Always, // every call
    };
    std::string call;
    When when = When::Nth;
    std::set<std::uint64_t> occurrences; // 1-based, counted from when the rule was added
    std::optional<ULONG> poolTag;        // ExAllocatePoolWithTag only: count and fail this tag only
    std::optional<NTSTATUS> status;      // default: defaultFaultStatus(call)
};

class Faults {
  public:
    using RuleId = int;

    RuleId add(FaultRule rule);
    void remove(RuleId id);
    void clear(); // all rules; the counters stay

    // Shorthands.
    RuleId failNth(std::string_view call, std::uint64_t n, std::optional<NTSTATUS> status = {});
    RuleId failOccurrences(std::string_view call, std::set<std::uint64_t> occurrences,
                           std::optional<NTSTATUS> status = {});
    RuleId failAlways(std::string_view call, std::optional<NTSTATUS> status = {});
    RuleId failPoolTag(ULONG tag, std::uint64_t n); // the nth allocation with that tag
    RuleId failPoolTagAlways(ULONG tag);

    // Called by the entry points: counts the call and says whether it fails, and with which
    // status. `poolTag` is given by pool allocations only.
    std::optional<NTSTATUS> shouldFail(std::string_view call,
                                       std::optional<ULONG> poolTag = std::nullopt);

    std::uint64_t calls(std::string_view call) const;
    std::uint64_t poolTagCalls(ULONG tag) const;
    std::uint64_t injected(std::string_view call) const; // failures injected so far
    std::map<std::string, std::uint64_t> counters() const;
    void resetCounters();

  private:
    struct Active {
        RuleId id;
        FaultRule rule;
        std::uint64_t base; // the counter when the rule was added
    };
    std::uint64_t counterFor(const FaultRule& rule) const; // lock held

    mutable std::mutex lock_;
    std::vector<Active> rules_;
    std::map<std::string, std::uint64_t, std::less<>> calls_;
    std::map<ULONG, std::uint64_t> tagCalls_;
    std::map<std::string, std::uint64_t, std::less<>> injected_;
    RuleId next_ = 1;
};

} // namespace winsim::kernel
