// Form decoding never writes more bytes than it reads, never makes a NUL
// byte out of an escape, and leaves text without "%" or "+" as it is.

#include "translate/WebEncoding.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string decoded = velantro::translate::FormDecode(input);
    if (decoded.size() > input.size() || std::count(decoded.begin(), decoded.end(), '\0') >
                                             std::count(input.begin(), input.end(), '\0')) {
        std::abort();
    }
    if (input.find_first_of("%+") == std::string_view::npos && decoded != input) {
        std::abort();
    }
    // Encoding and decoding give back what was encoded, NUL bytes aside.
    if (input.find('\0') == std::string_view::npos &&
        velantro::translate::FormDecode(velantro::translate::FormEncode(input)) != input) {
        std::abort();
    }
    return 0;
}
