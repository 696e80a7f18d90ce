// Running the built qelsim program, and a scratch folder for its machines.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qelsim_test {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs qelsim with the arguments and waits for it.
Result qelsim(const std::vector<std::string>& args);

// Every file below the folder, by relative path, with its bytes (folders as "<dir>").
std::map<std::string, std::string> snapshot(const std::filesystem::path& folder);

void writeFile(const std::filesystem::path& file, const std::string& text);

// The JSON document that starts at the first line beginning with "{" (a JSON dump among other
// output).
nlohmann::json jsonIn(const std::string& output);

// A fresh folder under the temporary folder, removed at the end.
class Scratch {
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// The port devices of a `devices --json` document, by instance path.
std::map<std::string, nlohmann::json> portDevices(const nlohmann::json& devices);

} // namespace qelsim_test
