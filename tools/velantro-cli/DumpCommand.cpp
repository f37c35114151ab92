// velantro-cli dump: loads an interface file as the program does and prints
// its table.

#include "Commands.h"
#include "localise/TranslateInterface.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

namespace velantro::tools {

namespace {

std::string Utf8FromWide(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

int RunDump(CommandArgs args) {
    if (args.size() != 1) {
        std::cerr << "usage: velantro-cli dump FILE\n";
        return 2;
    }
    const std::string path(args[0]);
    // The loader treats a missing file as an empty table; here that is
    // almost certainly a mistyped name, so say so. A folder opens, and reads
    // as nothing.
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        std::cerr << "velantro-cli dump: cannot read " << path << ": it is a folder\n";
        return 1;
    }
    if (!std::ifstream(path, std::ios::binary).is_open()) {
        std::cerr << "velantro-cli dump: cannot open " << path << "\n";
        return 1;
    }
    std::string failure;
    try {
        localise::LoadTranslations(path);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    for (const auto& entry : localise::Translations()) {
        std::cout << entry.Key << '\t' << entry.Lang << '\t' << Utf8FromWide(entry.Text) << '\n';
    }
    std::cout.flush();
    if (!failure.empty()) {
        std::cerr << failure << "\n";
        return 1;
    }
    return 0;
}

} // namespace velantro::tools
