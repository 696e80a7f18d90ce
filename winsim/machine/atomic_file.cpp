#include "machine/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace winsim::machine {

namespace {

[[noreturn]] void fail(const std::filesystem::path& file, const char* what, int error) {
    throw std::runtime_error("cannot write " + file.string() + ": " + what + ": " +
                             std::strerror(error));
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

void writeFileAtomically(const std::filesystem::path& file, std::string_view text) {
    std::filesystem::path temporary = file;
    temporary += ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail(file, "create", errno);
    }
    if (!writeAll(fd, text) || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        fail(file, "write", error);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(file, "close", error);
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(file, "rename", error);
    }
}

} // namespace winsim::machine
