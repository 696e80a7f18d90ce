// The object manager's symbolic links in the DOS device directory ("\??\COM3" ->
// "\Device\Serial0"): what IoCreateSymbolicLink makes in kernel mode and what DefineDosDevice and
// QueryDosDevice reach from user mode. A name can carry several definitions, as DefineDosDevice
// stacks them; the newest is the one in force. Names match without regard to case.
//
// The table needs no Kernel: a user-mode session without a booted machine keeps one of its own.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::kernel {

class SymbolicLinks {
  public:
    // The DOS name of a link path: "\DosDevices\COM3", "\??\COM3" and "\GLOBAL??\COM3" give
    // "COM3"; nothing for a path outside the DOS device directory or without a name.
    static std::optional<std::string> dosName(std::string_view linkPath);

    // A new name only: false when the name is defined already (IoCreateSymbolicLink).
    bool create(std::string_view name, std::string target);
    // Stacks a definition on the name (DefineDosDevice).
    void define(std::string_view name, std::string target);
    // Removes every definition of the name (IoDeleteSymbolicLink); false when it has none.
    bool removeAll(std::string_view name);
    // Removes the newest definition, or the newest with exactly this target; false when none.
    bool remove(std::string_view name, const std::string* target);

    // Newest first; empty for an unknown name.
    std::vector<std::string> targets(std::string_view name) const;
    // The names with a definition, upper-cased, in order.
    std::vector<std::string> names() const;

  private:
    mutable std::mutex lock_;
    std::map<std::string, std::vector<std::string>> links_; // upper-case name -> oldest first
};

} // namespace winsim::kernel
