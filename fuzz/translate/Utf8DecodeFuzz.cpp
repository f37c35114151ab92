// UTF-8 decoding gives at most one code unit per byte, and whatever it
// decodes from well-formed UTF-16 round-trips through the encoder.

#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velantro::translate;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::u16string decoded = Utf8Decode(input);
    if (decoded.size() > input.size()) {
        std::abort();
    }
    // Re-encoding and decoding again is stable: the encoder's output is
    // strict UTF-8, which the decoder reads back unit for unit.
    const std::u16string again = Utf8Decode(Utf8Encode(decoded));
    if (Utf8Encode(again) != Utf8Encode(decoded)) {
        std::abort();
    }
    return 0;
}
