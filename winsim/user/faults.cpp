#include "user/faults.h"

#include <algorithm>

namespace winsim::user {

void Faults::fail_nth(std::string call, unsigned occurrence, std::uint32_t error) {
    if (occurrence == 0) {
        return;
    }
    rules_.push_back(Rule{std::move(call), occurrence - 1, false, error});
}

void Faults::fail_always(std::string call, std::uint32_t error) {
    rules_.push_back(Rule{std::move(call), 0, true, error});
}

void Faults::clear() {
    rules_.clear();
}

std::optional<std::uint32_t> Faults::check(std::string_view call) {
    auto count = counts_.find(call);
    if (count == counts_.end()) {
        count = counts_.emplace(std::string(call), 0).first;
    }
    ++count->second;

    std::optional<std::uint32_t> result;
    for (auto& rule : rules_) {
        if (rule.call != call) {
            continue;
        }
        if (rule.always) {
            result = rule.error;
        } else if (rule.remaining == 0) {
            result = rule.error;
            rule.call.clear(); // spent
        } else {
            --rule.remaining;
        }
    }
    std::erase_if(rules_, [](const Rule& rule) { return rule.call.empty(); });
    return result;
}

unsigned Faults::calls(std::string_view call) const {
    auto count = counts_.find(call);
    return count == counts_.end() ? 0 : count->second;
}

} // namespace winsim::user
