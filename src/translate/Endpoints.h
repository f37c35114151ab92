#pragma once

// The two endpoints of the translation service and how they are configured.

#include <optional>
#include <string>
#include <string_view>

namespace velantro::translate {

/// The local translation program: the loopback interface, port 4357, target "/".
inline constexpr std::string_view LocalEndpointUrl = "http://127.0.0.1:4357/";

/// The web endpoint when nothing else is configured: the port where the
/// translator stand-in listens as the web endpoint, so that nothing typed
/// leaves the machine until a real service is configured.
inline constexpr std::string_view DefaultWebEndpointUrl = "http://localhost:8357/vl.asp";

/// The environment variable that configures the web endpoint.
inline constexpr const char* WebEndpointVariable = "VELANTRO_WEB_ENDPOINT";

struct Endpoints {
    std::string Local{LocalEndpointUrl};
    std::string Web{DefaultWebEndpointUrl};
};

/// The parts of an endpoint URL that the exchange writes on the wire.
struct EndpointAddress {
    std::string Host;       ///< lower case, as cookies are keyed
    std::string HostHeader; ///< the host, and ":" and the port unless it is 80
    std::string Target;     ///< path and query, "/" at least
};

/// Splits an "http://host[:port][/path]" URL. Raises std::invalid_argument,
/// naming the URL, for anything else (other schemes, user names, fragments).
EndpointAddress ParseEndpointUrl(const std::string& url);

/// The web endpoint: the command-line option when given, else the
/// environment variable when set and not empty, else the default. Raises
/// std::invalid_argument when the chosen URL is not a usable http:// URL.
std::string ChooseWebEndpoint(const std::optional<std::string>& option);

} // namespace velantro::translate
