#include "XmppPassword.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace velantro::standins {

namespace {

/// The bounds of the environment block the process started with, which
/// /proc/PID/environ shows (fields 50 and 51 of /proc/self/stat); nothing
/// when they cannot be read.
std::optional<std::pair<std::uintptr_t, std::uintptr_t>> StartingEnvironment() {
    std::ifstream file("/proc/self/stat");
    std::string stat;
    if (!std::getline(file, stat)) {
        return std::nullopt;
    }
    // The program's name, in parentheses, may hold blanks: count from after it.
    const auto nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(nameEnd + 1));
    constexpr int FirstFieldAfterName = 3;
    constexpr int EnvStartField = 50;
    std::string field;
    for (int number = FirstFieldAfterName; number < EnvStartField; ++number) {
        fields >> field;
    }
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    if (!(fields >> start >> end) || start >= end) {
        return std::nullopt;
    }
    return std::make_pair(start, end);
}

/// Removes the variable from the environment and, where its text lies in the
/// block the process started with, overwrites that text with NULs: removing
/// it only takes it out of the list, and the block would still show it.
void ForgetVariable(const std::string& name, char* value) {
    char* const entry = value - (name.size() + 1);
    const std::size_t length = name.size() + 1 + std::strlen(value);
    const auto block = StartingEnvironment();
    const auto address = reinterpret_cast<std::uintptr_t>(entry);
    const bool inBlock = block && address >= block->first && address + length <= block->second &&
                         std::memcmp(entry, name.data(), name.size()) == 0 &&
                         entry[name.size()] == '=';
    ::unsetenv(name.c_str());
    if (inBlock) {
        std::memset(entry, 0, length);
    }
}

} // namespace

std::string ReadXmppPassword(const XmppSettings& settings) {
    std::string password;
    const std::string variable(PasswordVariable);
    if (!settings.PasswordFile.empty()) {
        std::ifstream file(settings.PasswordFile, std::ios::binary);
        if (!file || !std::getline(file, password)) {
            throw std::runtime_error("cannot read the password file " + settings.PasswordFile);
        }
        if (!password.empty() && password.back() == '\r') {
            password.pop_back();
        }
    } else if (char* value = std::getenv(variable.c_str())) {
        password = value;
        ForgetVariable(variable, value);
    }
    if (password.empty()) {
        throw std::runtime_error("no password: name a file with --xmpp-password-file or set " +
                                 variable);
    }
    return password;
}

} // namespace velantro::standins
