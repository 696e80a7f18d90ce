#include "script.h"

#include <fstream>
#include <stdexcept>

namespace qelsim {

std::vector<std::string> splitWords(std::string_view line) {
    std::vector<std::string> words;
    std::size_t at = 0;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (true) {
        while (at < line.size() && blank(line[at])) {
            ++at;
        }
        if (at == line.size() || line[at] == '#') {
            return words;
        }
        std::string word;
        while (at < line.size() && !blank(line[at])) {
            const char c = line[at++];
            if (c != '"' && c != '\'') {
                word.push_back(c);
                continue;
            }
            const std::size_t close = line.find(c, at);
            if (close == std::string_view::npos) {
                throw std::runtime_error(std::string("the quote ") + c + " is not closed");
            }
            word.append(line.substr(at, close - at));
            at = close + 1;
        }
        words.push_back(std::move(word));
    }
}

std::vector<ScriptLine> readScript(const std::filesystem::path& file) {
    std::error_code ec;
    std::ifstream in(file);
    if (!std::filesystem::is_regular_file(file, ec) || !in) {
        throw std::runtime_error("cannot read the script " + file.string());
    }
    std::vector<ScriptLine> lines;
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        try {
            auto words = splitWords(text);
            if (!words.empty()) {
                lines.push_back(ScriptLine{number, text, std::move(words)});
            }
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(file.string() + ":" + std::to_string(number) + ": " +
                                     e.what());
        }
    }
    if (in.bad()) {
        throw std::runtime_error("cannot read the script " + file.string());
    }
    return lines;
}

} // namespace qelsim
