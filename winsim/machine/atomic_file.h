// Writing a file so that a reader sees either the old or the new contents, never a part.
#pragma once

#include <filesystem>
#include <string_view>

namespace winsim::machine {

// Writes the text to a temporary file beside the target, flushes it to disk and renames it over
// the target. Throws std::runtime_error (naming the file) when any step fails; the target is
// then as it was and no temporary file is left.
void writeFileAtomically(const std::filesystem::path& file, std::string_view text);

} // namespace winsim::machine
