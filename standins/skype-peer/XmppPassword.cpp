#include "XmppPassword.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace velantro::standins {

std::string ReadXmppPassword(const XmppSettings& settings) {
    std::string password;
    if (!settings.PasswordFile.empty()) {
        std::ifstream file(settings.PasswordFile, std::ios::binary);
        if (!file || !std::getline(file, password)) {
            throw std::runtime_error("cannot read the password file " + settings.PasswordFile);
        }
        if (!password.empty() && password.back() == '\r') {
            password.pop_back();
        }
    } else if (const char* value = std::getenv(std::string(PasswordVariable).c_str())) {
        password = value;
        ::unsetenv(std::string(PasswordVariable).c_str());
    }
    if (password.empty()) {
        throw std::runtime_error("no password: name a file with --xmpp-password-file or set " +
                                 std::string(PasswordVariable));
    }
    return password;
}

} // namespace velantro::standins
