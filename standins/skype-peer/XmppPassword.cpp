#include "XmppPassword.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace velantro::standins {

namespace {

/// A signal that ends the program while echo is off turns it on again
/// first, so the shell is not left typing blind. Only the ECHO flag is
/// touched, so the handler needs nothing saved beforehand.
extern "C" void EchoOnAndEnd(int signal) {
    termios settings{};
    if (::tcgetattr(STDIN_FILENO, &settings) == 0) {
        settings.c_lflag |= ECHO;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    }
    (void)!::write(STDERR_FILENO, "\n", 1);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

/// Turns the terminal's echo off for its lifetime.
class EchoOff {
public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &Saved) != 0 || (Saved.c_lflag & ECHO) == 0) {
            return; // nothing to turn off, nothing to restore
        }
        struct sigaction action {};
        action.sa_handler = EchoOnAndEnd;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(Signals); ++i) {
            ::sigaction(Signals[i], &action, &Previous[i]);
        }
        termios quiet = Saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        Active = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        if (!Active) {
            RestoreHandlers();
        }
    }
    ~EchoOff() {
        if (Active) {
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &Saved);
            RestoreHandlers();
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    void RestoreHandlers() {
        for (std::size_t i = 0; i < std::size(Signals); ++i) {
            ::sigaction(Signals[i], &Previous[i], nullptr);
        }
    }

    static constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    termios Saved{};
    struct sigaction Previous[std::size(Signals)]{};
    bool Active = false;
};

std::string ReadLine(std::istream& in) {
    std::string line;
    if (!std::getline(in, line)) {
        return {};
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

/// Asks once; the Enter the user typed was not echoed either.
std::string Ask(std::string_view prompt, std::istream& in, std::ostream& prompts) {
    prompts << prompt << std::flush;
    std::string line = ReadLine(in);
    prompts << "\n" << std::flush;
    return line;
}

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

std::optional<std::string> ReadXmppPassword(const XmppSettings& settings) {
    if (!settings.PasswordFile.empty()) {
        std::ifstream file(settings.PasswordFile, std::ios::binary);
        if (!file) {
            throw std::runtime_error("cannot read the password file " + settings.PasswordFile);
        }
        std::string password = ReadLine(file);
        if (password.empty()) {
            throw std::runtime_error("the password file " + settings.PasswordFile +
                                     " has no password on its first line");
        }
        return password;
    }
    const std::string variable(PasswordVariable);
    char* value = std::getenv(variable.c_str());
    std::string password = value ? value : "";
    if (value != nullptr) {
        ForgetVariable(variable, value);
    }
    if (password.empty()) {
        return std::nullopt;
    }
    return password;
}

std::string AskForPassword(std::string_view jid, std::istream& in, std::ostream& prompts,
                           bool confirm) {
    if (!confirm) {
        std::string password = ReadLine(in);
        if (password.empty()) {
            throw std::runtime_error("no password on the first line of the standard input");
        }
        return password;
    }
    std::string password = Ask("Password of " + std::string(jid) + ": ", in, prompts);
    if (password.empty()) {
        throw std::runtime_error("no password was entered; nothing was stored");
    }
    if (Ask("The same again: ", in, prompts) != password) {
        throw std::runtime_error("the two entries differ; nothing was stored");
    }
    return password;
}

std::string AskForPassword(std::string_view jid) {
    if (::isatty(STDIN_FILENO) == 0) {
        return AskForPassword(jid, std::cin, std::cerr, false);
    }
    const EchoOff echoOff;
    return AskForPassword(jid, std::cin, std::cerr, true);
}

} // namespace velantro::standins
