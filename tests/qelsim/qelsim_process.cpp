#include "qelsim_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qelsim_test {

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

Result qelsim(const std::vector<std::string>& args) {
    Scratch outputs;
    const std::string outFile = outputs / "stdout";
    const std::string errFile = outputs / "stderr";
    std::vector<std::string> argv{QELSIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (auto& arg : argv) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
            ::dup2(in, 0) < 0) {
            ::_exit(126);
        }
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child) {
        throw std::runtime_error("waitpid failed");
    }
    Result result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(outFile);
    result.err = readFile(errFile);
    return result;
}

std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).string();
        files[name] = entry.is_directory() ? std::string("<dir>") : readFile(entry.path());
    }
    return files;
}

void writeFile(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

nlohmann::json jsonIn(const std::string& output) {
    const std::size_t start = output.rfind('{', 0) == 0 ? 0 : output.find("\n{");
    if (start == std::string::npos) {
        throw std::runtime_error("no JSON in the output:\n" + output);
    }
    const std::size_t from = start == 0 ? 0 : start + 1;
    const std::size_t end = output.find("\n}", from);
    return nlohmann::json::parse(
        output.substr(from, end == std::string::npos ? std::string::npos : end + 2 - from));
}

Scratch::Scratch() {
    std::string pattern = (fs::temp_directory_path() / "qelsim-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

Scratch::~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::map<std::string, nlohmann::json> portDevices(const nlohmann::json& devices) {
    std::map<std::string, nlohmann::json> ports;
    for (const auto& device : devices.at("devices")) {
        const std::string instance = device.at("instance");
        if (instance.rfind("QEL_CARD\\SERIAL\\", 0) == 0) {
            ports[instance] = device;
        }
    }
    return ports;
}

} // namespace qelsim_test
