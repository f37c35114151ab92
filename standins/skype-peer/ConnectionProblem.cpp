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

/// Whether a line of libstrophe's log says it has waited long enough for an
/// answer of the server during the sign-in.
bool LibraryGaveUpWaiting(std::string_view text) {
    constexpr std::string_view lines[] = {
        "didn't get stream features",
        "Did not receive stream features after SASL authentication.",
        "Server did not reply to bind request.",
        "Server did not reply to session request.",
        "Server did not reply to legacy authentication request.",
    };
    return std::find(std::begin(lines), std::end(lines), text) != std::end(lines);
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
        // Opened again over TLS once the handshake is through.
        Reached(Where >= Stage::TlsHandshake ? Stage::SigningIn : Stage::Negotiating);
    } else if (text == "proceeding with TLS") {
        Reached(Stage::TlsHandshake);
    } else if (text.starts_with("parse error")) {
        Describe("the server sent XML that cannot be read", true);
    } else if (LibraryGaveUpWaiting(text)) {
        // libstrophe's own limit ended the wait; it then closes the
        // connection itself, which is no close by the server.
        Describe(StallText() + " (no answer within " + std::to_string(LibraryWait.count()) + " s)",
                 true);
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

std::string ConnectionProblem::StallText() const {
    switch (Where) {
    case Stage::Connecting:
        return "the connection was not made";
    case Stage::AwaitingStream:
        return "the server accepted the connection but never opened its XMPP stream";
    case Stage::Negotiating:
        return "the server opened its XMPP stream, then stalled";
    case Stage::TlsHandshake:
        return "the server stalled the TLS handshake";
    case Stage::SigningIn:
        return "the server stalled the sign-in after TLS";
    case Stage::AwaitingRoster:
        return "the server did not send the roster";
    }
    return "the sign-in stalled";
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
