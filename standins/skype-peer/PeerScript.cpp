#include "PeerScript.h"

#include "common/AsciiText.h"

#include <charconv>
#include <fstream>
#include <stdexcept>

namespace velantro::standins {

namespace {

constexpr std::chrono::milliseconds LongestWait = std::chrono::minutes(10);

bool IsHandle(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= ' ') {
            return false;
        }
    }
    return true;
}

} // namespace

std::string UnescapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        switch (next) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            const int high = i + 2 < text.size() ? common::HexDigitValue(text[i + 2]) : -1;
            const int low = i + 3 < text.size() ? common::HexDigitValue(text[i + 3]) : -1;
            if (high < 0 || low < 0) {
                throw std::invalid_argument("\\x needs two hexadecimal digits");
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            throw std::invalid_argument(
                "unknown escape; use \\n, \\r, \\t, \\\\ or \\xHH for a backslash sequence");
        }
        ++i;
    }
    return out;
}

std::optional<ScriptStep> ParseScriptLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    const std::string_view text = common::TrimLeadingBlanks(line);
    if (text.empty() || text.front() == '#') {
        return std::nullopt;
    }
    ScriptStep step;
    if (text.starts_with("wait ")) {
        std::string_view number = common::TrimLeadingBlanks(text.substr(5));
        number = number.substr(0, number.find_last_not_of(" \t") + 1);
        long long ms = -1;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), ms);
        if (error != std::errc() || end != number.data() + number.size() || ms < 0 ||
            ms > LongestWait.count()) {
            throw std::invalid_argument("wait needs a number of milliseconds from 0 to 600000");
        }
        step.What = ScriptStep::Kind::Wait;
        step.Pause = std::chrono::milliseconds(ms);
        return step;
    }
    if (text.starts_with("raw ")) {
        step.What = ScriptStep::Kind::Raw;
        step.Line = UnescapeText(text.substr(4));
        if (step.Line.empty()) {
            throw std::invalid_argument("raw needs a line to send");
        }
        return step;
    }
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || !IsHandle(text.substr(0, colon))) {
        throw std::invalid_argument("expected \"HANDLE: TEXT\", \"wait MS\" or \"raw LINE\"");
    }
    std::string_view body = text.substr(colon + 1);
    if (body.starts_with(' ')) {
        body.remove_prefix(1);
    }
    step.What = ScriptStep::Kind::Message;
    step.Message = IncomingMessage{std::string(text.substr(0, colon)), UnescapeText(body)};
    return step;
}

std::vector<ScriptStep> ReadScript(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error(path + ": cannot open the script");
    }
    std::vector<ScriptStep> steps;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        try {
            if (auto step = ParseScriptLine(line)) {
                steps.push_back(std::move(*step));
            }
        } catch (const std::invalid_argument& error) {
            throw std::runtime_error(path + ":" + std::to_string(number) + ": " + error.what());
        }
    }
    if (file.bad()) {
        throw std::runtime_error(path + ": cannot read the script");
    }
    return steps;
}

} // namespace velantro::standins
