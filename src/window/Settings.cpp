#include "window/Settings.h"

#include "common/IntegerText.h"

#include <stdexcept>
#include <string>

namespace velantro::window {

std::int32_t ReadSettingsInteger(std::string_view text, std::int32_t fallback) {
    std::string number(text);
    if (number.size() > 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X')) {
        number.replace(0, 2, "$");
    }
    // "x" alone does not introduce hexadecimal digits in a setting.
    if (number.find_first_of("xX") != std::string::npos) {
        return fallback;
    }
    return common::ReadInteger(number).value_or(fallback);
}

std::int32_t TSettings::ReadInteger(std::string_view section, std::string_view key,
                                    std::int32_t fallback) {
    return ReadSettingsInteger(File.ReadValue(section, key), fallback);
}

void TSettings::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    if (!File.WriteValue(section, key, std::to_string(value))) {
        RaiseWriteError();
    }
}

void TSettings::WriteText(std::string_view section, std::string_view key, std::string_view text) {
    if (!File.WriteValue(section, key, text)) {
        RaiseWriteError();
    }
}

void TSettings::Close() {
    if (!File.Flush()) {
        RaiseWriteError();
    }
}

void TSettings::RaiseWriteError() const {
    const std::string reason = File.FailureReason();
    throw std::runtime_error("Unable to write to " + File.DisplayName() +
                             (reason.empty() ? "" : ": " + reason));
}

} // namespace velantro::window
