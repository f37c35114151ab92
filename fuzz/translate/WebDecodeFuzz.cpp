// WebDecode over arbitrary UTF-16 text (the input's bytes taken in pairs):
// no crash, no undefined behaviour, and text without "&" comes back as it is.

#include "translate/WebEncoding.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velantro::translate;
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), data, text.size() * 2);
    const std::u16string decoded = WebDecode(text);
    if (text.find(u'&') == std::u16string::npos && decoded != text) {
        std::abort();
    }
    // A text written as references decodes back to itself, "#10063" aside.
    if (text.find(u'\u274F') == std::u16string::npos && text.find(u'\0') == std::u16string::npos) {
        const std::string encoded = WebEncode(text);
        std::u16string wide(encoded.begin(), encoded.end());
        if (WebDecode(wide) != text) {
            std::abort();
        }
    }
    return 0;
}
