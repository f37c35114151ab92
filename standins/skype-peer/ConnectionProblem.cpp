#include "ConnectionProblem.h"

#include <charconv>
#include <cstring>

namespace velantro::standins {

void ConnectionProblem::Take(Level level, std::string_view area, std::string_view text) {
    if (area == "tls") {
        constexpr std::string_view failed = "Certificate verification FAILED, result=";
        if (text.starts_with(failed)) {
            const std::string_view reason = text.substr(failed.size());
            Describe("TLS: the server's certificate is not trusted (" +
                         std::string(reason.substr(0, reason.find('('))) + ")",
                     true);
            return;
        }
        if (level == Level::Error) {
            Describe("TLS: " + std::string(text), false);
        }
        return;
    }
    if (area == "xmpp") {
        constexpr std::string_view failed = "connection failed, error ";
        if (text.starts_with(failed)) {
            const std::string_view number = text.substr(failed.size());
            int error = 0;
            const auto [end, code] =
                std::from_chars(number.data(), number.data() + number.size(), error);
            if (code == std::errc() && error > 0) {
                Describe(std::strerror(error), true);
            }
        }
        return;
    }
    if (area == "auth" && level == Level::Error) {
        AuthFailed = true;
        Describe("the server did not accept the account's password", true);
        return;
    }
    if (level == Level::Error) {
        Describe(std::string(area) + ": " + std::string(text), false);
    }
}

void ConnectionProblem::Describe(std::string text, bool specific) {
    // A precise report is not covered by the generic one that follows it.
    if (Specific && !specific) {
        return;
    }
    Description = std::move(text);
    Specific = specific;
}

} // namespace velantro::standins
