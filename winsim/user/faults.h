// Failure injection for the user-mode system calls: a rule names a call ("RegOpenKeyA") and
// which of its following calls fails (the first, the third, every one) with which Win32 error.
// Every system call asks here before it does anything; a failed call changes nothing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::user {

class Faults {
  public:
    // The call's occurrence-th call from now (1 is the next one) fails with the error.
    void fail_nth(std::string call, unsigned occurrence, std::uint32_t error);
    // Every following call fails with the error until clear().
    void fail_always(std::string call, std::uint32_t error);
    void clear();

    // Counts the call; the error it must fail with, if a rule says so.
    std::optional<std::uint32_t> check(std::string_view call);
    // How many times the call was made since the session started.
    unsigned calls(std::string_view call) const;

  private:
    struct Rule {
        std::string call;
        unsigned remaining = 0; // calls to let through first; always: 0 and repeat
        bool always = false;
        std::uint32_t error = 0;
    };
    std::vector<Rule> rules_;
    std::map<std::string, unsigned, std::less<>> counts_;
};

} // namespace winsim::user
