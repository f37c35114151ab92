#include "localise/TranslateInterface.h"

#include "localise/TranslationText.h"
#include "localise/gzIO.h"

#include <algorithm>
#include <iomanip>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace velantro::localise {

namespace {

std::vector<TTranslation>& Table() {
    static std::vector<TTranslation> table;
    return table;
}

/// Reads up to length bytes, going on after short reads until the payload
/// ends or an error stops it; returns how many were delivered.
std::size_t ReadFully(MaskedGzFile* file, char* buffer, std::size_t length) {
    std::size_t delivered = 0;
    while (delivered < length) {
        const int got = MaskedGzRead(
            file, buffer + delivered,
            static_cast<unsigned>(std::min<std::size_t>(length - delivered, std::size_t{1} << 20)));
        if (got <= 0) {
            break;
        }
        delivered += static_cast<std::size_t>(got);
    }
    return delivered;
}

/// The text of the file's payload: Count, then Count bytes, but no more than
/// limit. Only the bytes the reader actually delivers are used, so a short
/// payload gives a short text and a negative Count an empty one. The buffer
/// grows with what arrives rather than trusting Count up front.
std::string ReadInterfaceText(const std::string& path, std::size_t limit) {
    const MaskedGzHandle file = MaskedGzOpen(path, "r");
    if (!file) {
        return {};
    }
    unsigned char countBytes[4] = {};
    if (ReadFully(file.get(), reinterpret_cast<char*>(countBytes), sizeof countBytes) <
        sizeof countBytes) {
        return {};
    }
    const auto count = static_cast<std::int32_t>(static_cast<std::uint32_t>(countBytes[0]) |
                                                 static_cast<std::uint32_t>(countBytes[1]) << 8 |
                                                 static_cast<std::uint32_t>(countBytes[2]) << 16 |
                                                 static_cast<std::uint32_t>(countBytes[3]) << 24);
    std::string text;
    if (count <= 0) {
        return text;
    }
    const auto wanted = std::min(static_cast<std::size_t>(count), limit);
    constexpr std::size_t Step = std::size_t{1} << 20;
    // Count is trusted for the first step only; beyond that the text grows as
    // bytes actually arrive, so a bogus Count costs no memory.
    text.reserve(std::min(wanted, Step));
    while (text.size() < wanted) {
        const std::size_t before = text.size();
        const std::size_t chunk = std::min(Step, wanted - before);
        text.resize(before + chunk);
        const std::size_t got = ReadFully(file.get(), text.data() + before, chunk);
        text.resize(before + got);
        if (got < chunk) {
            break;
        }
    }
    return text;
}

/// The text up to its first zero byte, cut before the line that crosses
/// MaxInterfaceTextBytes when it is longer; the limit's message when it is.
std::optional<std::string> CutToTextLimit(std::string_view& text) {
    text = text.substr(0, text.find('\0'));
    if (text.size() <= MaxInterfaceTextBytes) {
        return std::nullopt;
    }
    text = text.substr(0, MaxInterfaceTextBytes);
    const auto lastBreak = text.find_last_of("\r\n");
    text = lastBreak == std::string_view::npos ? std::string_view{} : text.substr(0, lastBreak + 1);
    return "Interface text over the limit of " + std::to_string(MaxInterfaceTextBytes >> 20) +
           " MiB";
}

} // namespace

std::ostream& operator<<(std::ostream& out, const TTranslation& entry) {
    out << "{" << entry.Key << ", " << entry.Lang << ", \"";
    for (const char16_t unit : entry.Text) {
        if (unit >= 0x20 && unit < 0x7F) {
            out << static_cast<char>(unit);
        } else {
            out << "\\u" << std::hex << std::setw(4) << std::setfill('0')
                << static_cast<unsigned>(unit) << std::dec;
        }
    }
    return out << "\"}";
}

const std::vector<TTranslation>& Translations() {
    return Table();
}

void LoadTranslations(const std::string& path) {
    auto& table = Table();
    table.clear();
    try {
        // One byte past the limit tells a text that passes it.
        const std::string text = ReadInterfaceText(path, MaxInterfaceTextBytes + 1);
        std::string_view usable = text;
        std::optional<std::string> limit = CutToTextLimit(usable);
        auto lines = SplitLines(usable, MaxTranslations + 1);
        if (lines.size() > MaxTranslations) {
            lines.pop_back();
            limit = limit.value_or("Interface file over the limit of " +
                                   std::to_string(MaxTranslations) + " entries");
        }
        table.resize(lines.size());
        try {
            for (std::size_t i = 0; i < lines.size(); ++i) {
                ReadTranslationLine(lines[i], table[i]);
            }
        } catch (const std::runtime_error&) {
            // A bad line before the limit stops the load as usual, but the
            // limit is what makes the file unusable.
            if (!limit) {
                throw;
            }
        }
        if (limit) {
            throw std::runtime_error(*limit);
        }
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("LoadTranslations:Out of memory");
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("LoadTranslations:") + error.what());
    }
}

std::int32_t FindTranslation(std::string_view key, std::int32_t lang) {
    const auto& table = Table();
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].Lang == lang && table[i].Key == key) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

namespace {

/// Gives text to component by its kinds, in the order of the kinds: a
/// component of several kinds takes every assignment, so the Unicode one,
/// which comes last, is the one that stays.
void Relabel(TComponent& component, std::u16string_view text) {
    struct Assignment {
        std::uint32_t Kind;
        TextSetter TComponent::*Setter;
        TextForm Form;
    };
    static constexpr std::uint32_t SpeedButtons = ckSpeedButton | ckTntSpeedButton;
    static const Assignment Assignments[] = {
        {ckForm, &TComponent::SetCaption, TextForm::EightBit},
        {ckTntForm, &TComponent::SetCaption, TextForm::Unicode},
        {ckMenuItem, &TComponent::SetCaption, TextForm::EightBit},
        {ckLabel, &TComponent::SetCaption, TextForm::EightBit},
        {ckTntMenuItem, &TComponent::SetCaption, TextForm::Unicode},
        {ckTntLabel, &TComponent::SetCaption, TextForm::Unicode},
        {ckTabSheet, &TComponent::SetCaption, TextForm::EightBit},
        {ckTntTabSheet, &TComponent::SetCaption, TextForm::Unicode},
        {ckTntRadioButton, &TComponent::SetCaption, TextForm::Unicode},
        {ckSpeedButton, &TComponent::SetHint, TextForm::EightBit},
        {ckTntSpeedButton, &TComponent::SetHint, TextForm::Unicode},
        {ckButton, &TComponent::SetCaption, TextForm::EightBit},
        {ckTntButton, &TComponent::SetCaption, TextForm::Unicode},
        {ckTntBitBtn, &TComponent::SetCaption, TextForm::Unicode},
    };
    for (const Assignment& assignment : Assignments) {
        if ((component.Kinds & assignment.Kind) == 0) {
            continue;
        }
        // Speed buttons show the text as their hint, never as a caption.
        const bool buttonCaption = (assignment.Kind & (ckButton | ckTntButton | ckTntBitBtn)) != 0;
        if (buttonCaption && (component.Kinds & SpeedButtons) != 0) {
            continue;
        }
        const TextSetter& setter = component.*assignment.Setter;
        if (setter) {
            setter(text, assignment.Form);
        }
    }
}

} // namespace

void TranslateComponent(TComponent& component, std::string_view prefix, std::int32_t lang) {
    std::string key(prefix);
    key += '.';
    key.erase(0, key.find_first_not_of('.'));
    key += component.Name;
    const std::int32_t found = FindTranslation(key, lang);
    if (found >= 0) {
        Relabel(component, Table()[static_cast<std::size_t>(found)].Text);
    }
    for (TComponent& owned : component.Components) {
        TranslateComponent(owned, key, lang);
    }
}

void ApplyLanguage(TComponent& application, std::int32_t lang) {
    TranslateComponent(application, ".", lang);
}

std::u16string CyrillicToWide(std::string_view text) {
    std::u16string wide(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        wide[i] = static_cast<char16_t>(byte >= 0xC0 ? byte + 0x350 : byte);
    }
    return wide;
}

std::filesystem::path InstalledDataFolder() {
    return VELANTRO_INSTALLED_DATA_DIR;
}

std::string LocateInterfaceFile(const std::filesystem::path& programDir,
                                const std::filesystem::path& dataDir) {
    const std::filesystem::path name{std::string(InterfaceFileName)};
    for (const auto& candidate : {name, programDir / name, dataDir / name}) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate.string();
        }
    }
    return name.string();
}

} // namespace velantro::localise
