#pragma once

// A window-titles service over a plain list of titles, for tests: window i+1
// has title i. It counts the titles read and can be told to fail.

#include "platform/WindowTitles.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace velantro::translate::testing {

class TitleListWindows : public platform::WindowTitles {
public:
    std::vector<std::string> Titles;
    bool FailEnumeration = false;
    bool ThrowOnRead = false;
    int TitlesRead = 0;
    int Enumerations = 0;

    bool EnumerateWindows(const std::function<bool(platform::WindowHandle)>& visit) override {
        ++Enumerations;
        if (FailEnumeration) {
            return false;
        }
        for (std::size_t i = 0; i < Titles.size(); ++i) {
            if (!visit(i + 1)) {
                break;
            }
        }
        return true;
    }

    int ReadWindowTitle(platform::WindowHandle window, char* buffer, int maxCount) override {
        if (ThrowOnRead) {
            throw std::runtime_error("title read failed");
        }
        ++TitlesRead;
        if (window == 0 || window > Titles.size() || maxCount <= 0) {
            return 0;
        }
        const std::string& title = Titles[window - 1];
        const auto count = std::min(title.size(), static_cast<std::size_t>(maxCount - 1));
        std::memcpy(buffer, title.data(), count);
        buffer[count] = '\0';
        return static_cast<int>(count);
    }
};

} // namespace velantro::translate::testing
