#include "translate/LocalTranslator.h"

#include <string>
#include <vector>

namespace velantro::translate {

namespace {

// Titles are read into a buffer of this size: at most 254 characters and a NUL.
constexpr int TitleBufferSize = 255;

bool QualifyingTitle(std::string_view title) {
    return title.starts_with(LocalTranslatorTitlePrefix) &&
           title.find_first_of("()") == std::string_view::npos;
}

} // namespace

bool LocalTranslatorRunning(platform::WindowTitles& windows) noexcept {
    try {
        // Collect first, read titles afterwards: reading a title may involve the
        // window's owner, which must not happen inside the enumeration. The list
        // grows as needed, so no window is skipped on a crowded desktop.
        std::vector<platform::WindowHandle> handles;
        const bool enumerated = windows.EnumerateWindows([&handles](platform::WindowHandle window) {
            handles.push_back(window);
            return true;
        });
        if (!enumerated) {
            return false;
        }
        char buffer[TitleBufferSize];
        for (const platform::WindowHandle window : handles) {
            buffer[0] = '\0';
            int length = windows.ReadWindowTitle(window, buffer, TitleBufferSize);
            if (length < 0) {
                length = 0;
            } else if (length > TitleBufferSize - 1) {
                length = TitleBufferSize - 1;
            }
            std::string_view title(buffer, static_cast<std::size_t>(length));
            title = title.substr(0, title.find('\0'));
            if (QualifyingTitle(title)) {
                return true;
            }
        }
        return false;
    } catch (...) {
        return false;
    }
}

} // namespace velantro::translate
