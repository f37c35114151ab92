#include "ConnectionProblem.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

namespace velantro::standins {

namespace {

/// The number after prefix at the start of text ("errno=104 ..." -> 104).
std::optional<int> NumberAfter(std::string_view text, std::string_view prefix) {
    const auto at = text.find(prefix);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view digits = text.substr(at + prefix.size());
    int number = 0;
    const auto [end, code] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return code == std::errc() ? std::optional<int>(number) : std::nullopt;
}

// OpenSSL's SSL_get_error values that libstrophe reports as its TLS error.
constexpr int SslErrorSsl = 1;
constexpr int SslErrorSyscall = 5;
constexpr int SslErrorZeroReturn = 6;

} // namespace

void ConnectionProblem::Take(Level level, std::string_view area, std::string_view text) {
    if (area == "tls") {
        TakeTls(level, text);
        return;
    }
    if (area == "xmpp") {
        TakeXmpp(text);
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

void ConnectionProblem::TakeTls(Level level, std::string_view text) {
    constexpr std::string_view verification = "Certificate verification ";
    if (text.starts_with(verification)) {
        Reached(Stage::SigningIn); // the handshake is over, whatever its verdict
    }
    constexpr std::string_view failed = "Certificate verification FAILED, result=";
    if (text.starts_with(failed)) {
        const std::string_view reason = text.substr(failed.size());
        Describe("TLS: the server's certificate is not trusted (" +
                     std::string(reason.substr(0, reason.find('('))) + ")",
                 true);
        return;
    }
    // "error=SSL_ERROR_ZERO_RETURN(6) errno=0 lasterror=0": how the TLS
    // connection ended. It stands unless something more telling came first.
    if (text.starts_with("error=") && !Specific) {
        const int error = NumberAfter(text, "(").value_or(0);
        const int system = NumberAfter(text, "errno=").value_or(0);
        if (system != 0 && error == SslErrorSyscall) {
            Describe(std::strerror(system), true);
        } else if (error == SslErrorZeroReturn || error == SslErrorSyscall) {
            Describe("the server closed the connection", true);
        } else if (error == SslErrorSsl) {
            Describe("TLS: the connection broke (a TLS protocol error)", true);
        }
        return;
    }
    if (level == Level::Error) {
        Describe("TLS: " + std::string(text), false);
    }
}

void ConnectionProblem::TakeXmpp(std::string_view text) {
    if (text == "connection successful") {
        Reached(Stage::AwaitingStream);
    } else if (text.starts_with("RECV: <stream:stream")) {
        Reached(Stage::Negotiating);
    } else if (text == "proceeding with TLS") {
        Reached(Stage::TlsHandshake);
    } else if (text.starts_with("parse error")) {
        Describe("the server sent XML that cannot be read", true);
    }
    constexpr std::string_view failed = "connection failed, error ";
    if (text.starts_with(failed)) {
        const int error = NumberAfter(text, failed).value_or(0);
        if (error > 0) {
            Describe(std::strerror(error), true);
        }
    }
}

void ConnectionProblem::Reached(Stage stage) {
    Where = std::max(Where, stage);
}

std::string ConnectionProblem::StallText(std::chrono::seconds limit) const {
    std::string what;
    switch (Where) {
    case Stage::Connecting:
        what = "the connection was not made";
        break;
    case Stage::AwaitingStream:
        what = "the server accepted the connection but never opened its XMPP stream";
        break;
    case Stage::Negotiating:
        what = "the server opened its XMPP stream, then stalled";
        break;
    case Stage::TlsHandshake:
        what = "the server stalled the TLS handshake";
        break;
    case Stage::SigningIn:
        what = "the server stalled the sign-in after TLS";
        break;
    case Stage::AwaitingRoster:
        what = "the server did not send the roster";
        break;
    }
    return what + " (no sign-in within " + std::to_string(limit.count()) + " s)";
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
