// Scripts for `run`: one command a line, split into words.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qelsim {

struct ScriptLine {
    int number = 0; // from 1
    std::string text;
    std::vector<std::string> words;
};

// Splits a line at blanks. Words may be quoted with "..." or '...' to hold blanks; a backslash
// is an ordinary character (instance paths and registry keys are full of them). A word starting
// with '#' begins a comment that runs to the end of the line. Throws std::runtime_error for a
// quote that is not closed.
std::vector<std::string> splitWords(std::string_view line);

// The lines of the script that hold a command; blank lines and comments are left out. Throws
// std::runtime_error naming the line of a malformed one, or the file if it cannot be read.
std::vector<ScriptLine> readScript(const std::filesystem::path& file);

} // namespace qelsim
