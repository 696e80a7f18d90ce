#include "kernel/symbolic_links.h"

#include "kernel/wide.h"

#include <algorithm>

namespace winsim::kernel {

std::optional<std::string> SymbolicLinks::dosName(std::string_view linkPath) {
    for (const std::string_view directory : {"\\DosDevices\\", "\\??\\", "\\GLOBAL??\\"}) {
        if (linkPath.size() > directory.size() &&
            equalNoCase(linkPath.substr(0, directory.size()), directory)) {
            const std::string_view name = linkPath.substr(directory.size());
            if (name.find('\\') != std::string_view::npos) {
                return std::nullopt;
            }
            return std::string(name);
        }
    }
    return std::nullopt;
}

bool SymbolicLinks::create(std::string_view name, std::string target) {
    const std::lock_guard guard(lock_);
    auto& list = links_[upcase(name)];
    if (!list.empty()) {
        return false;
    }
    list.push_back(std::move(target));
    return true;
}

void SymbolicLinks::define(std::string_view name, std::string target) {
    const std::lock_guard guard(lock_);
    links_[upcase(name)].push_back(std::move(target));
}

bool SymbolicLinks::removeAll(std::string_view name) {
    const std::lock_guard guard(lock_);
    return links_.erase(upcase(name)) != 0;
}

bool SymbolicLinks::remove(std::string_view name, const std::string* target) {
    const std::lock_guard guard(lock_);
    auto it = links_.find(upcase(name));
    if (it == links_.end()) {
        return false;
    }
    auto& list = it->second;
    if (target == nullptr) {
        list.pop_back();
    } else {
        auto match = std::find(list.rbegin(), list.rend(), *target);
        if (match == list.rend()) {
            return false;
        }
        list.erase(std::next(match).base());
    }
    if (list.empty()) {
        links_.erase(it);
    }
    return true;
}

std::vector<std::string> SymbolicLinks::targets(std::string_view name) const {
    const std::lock_guard guard(lock_);
    auto it = links_.find(upcase(name));
    if (it == links_.end()) {
        return {};
    }
    return std::vector<std::string>(it->second.rbegin(), it->second.rend());
}

std::vector<std::string> SymbolicLinks::names() const {
    const std::lock_guard guard(lock_);
    std::vector<std::string> out;
    out.reserve(links_.size());
    for (const auto& entry : links_) {
        out.push_back(entry.first);
    }
    return out;
}

} // namespace winsim::kernel
