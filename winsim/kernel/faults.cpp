#include "kernel/faults.h"

#include "wdm.h"

#include <algorithm>

namespace winsim::kernel {

NTSTATUS defaultFaultStatus(std::string_view call) {
    (void)call;
    return STATUS_INSUFFICIENT_RESOURCES;
}

Faults::RuleId Faults::add(FaultRule rule) {
    const std::lock_guard guard(lock_);
    const std::uint64_t base = counterFor(rule);
    const RuleId id = next_++;
    rules_.push_back({id, std::move(rule), base});
    return id;
}

void Faults::remove(RuleId id) {
    const std::lock_guard guard(lock_);
    std::erase_if(rules_, [id](const Active& a) { return a.id == id; });
}

void Faults::clear() {
    const std::lock_guard guard(lock_);
    rules_.clear();
}

Faults::RuleId Faults::failNth(std::string_view call, std::uint64_t n,
                               std::optional<NTSTATUS> status) {
    return add({std::string(call), FaultRule::When::Nth, {n}, std::nullopt, status});
}

Faults::RuleId Faults::failOccurrences(std::string_view call, std::set<std::uint64_t> occurrences,
                                       std::optional<NTSTATUS> status) {
    return add(
        {std::string(call), FaultRule::When::Nth, std::move(occurrences), std::nullopt, status});
}

Faults::RuleId Faults::failAlways(std::string_view call, std::optional<NTSTATUS> status) {
    return add({std::string(call), FaultRule::When::Always, {}, std::nullopt, status});
}

Faults::RuleId Faults::failPoolTag(ULONG tag, std::uint64_t n) {
    return add({std::string(fault_call::ExAllocatePoolWithTag),
                FaultRule::When::Nth,
                {n},
                tag,
                std::nullopt});
}

Faults::RuleId Faults::failPoolTagAlways(ULONG tag) {
    return add({std::string(fault_call::ExAllocatePoolWithTag),
                FaultRule::When::Always,
                {},
                tag,
                std::nullopt});
}

std::uint64_t Faults::counterFor(const FaultRule& rule) const {
    if (rule.poolTag) {
        const auto it = tagCalls_.find(*rule.poolTag);
        return it == tagCalls_.end() ? 0 : it->second;
    }
    const auto it = calls_.find(rule.call);
    return it == calls_.end() ? 0 : it->second;
}

std::optional<NTSTATUS> Faults::shouldFail(std::string_view call, std::optional<ULONG> poolTag) {
    const std::lock_guard guard(lock_);
    auto it = calls_.find(call);
    if (it == calls_.end()) {
        it = calls_.emplace(std::string(call), 0).first;
    }
    ++it->second;
    if (poolTag) {
        ++tagCalls_[*poolTag];
    }
    for (const auto& active : rules_) {
        const FaultRule& rule = active.rule;
        if (rule.call != call) {
            continue;
        }
        if (rule.poolTag && (!poolTag || *rule.poolTag != *poolTag)) {
            continue;
        }
        const std::uint64_t occurrence = counterFor(rule) - active.base;
        const bool hit =
            rule.when == FaultRule::When::Always || rule.occurrences.contains(occurrence);
        if (hit) {
            auto inj = injected_.find(call);
            if (inj == injected_.end()) {
                inj = injected_.emplace(std::string(call), 0).first;
            }
            ++inj->second;
            return rule.status.value_or(defaultFaultStatus(call));
        }
    }
    return std::nullopt;
}

std::uint64_t Faults::calls(std::string_view call) const {
    const std::lock_guard guard(lock_);
    const auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
}

std::uint64_t Faults::poolTagCalls(ULONG tag) const {
    const std::lock_guard guard(lock_);
    const auto it = tagCalls_.find(tag);
    return it == tagCalls_.end() ? 0 : it->second;
}

std::uint64_t Faults::injected(std::string_view call) const {
    const std::lock_guard guard(lock_);
    const auto it = injected_.find(call);
    return it == injected_.end() ? 0 : it->second;
}

std::map<std::string, std::uint64_t> Faults::counters() const {
    const std::lock_guard guard(lock_);
    return {calls_.begin(), calls_.end()};
}

void Faults::resetCounters() {
    const std::lock_guard guard(lock_);
    calls_.clear();
    tagCalls_.clear();
    injected_.clear();
    for (auto& active : rules_) {
        active.base = 0;
    }
}

} // namespace winsim::kernel
