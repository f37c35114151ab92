#pragma once

// The component ownership tree that relabelling walks: every component has a
// name, the kinds it belongs to and the components it owns, in order. Plain
// data, so the walk is tested without a window system; the program builds it
// from its window.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::localise {

/// The component kinds that relabelling knows, one bit each, in the order in
/// which their texts are assigned. A Unicode-capable kind is also the plain
/// kind it extends, so a component usually carries several bits.
enum ComponentKind : std::uint32_t {
    ckForm = 1U << 0,
    ckTntForm = 1U << 1,
    ckMenuItem = 1U << 2,
    ckLabel = 1U << 3,
    ckTntMenuItem = 1U << 4,
    ckTntLabel = 1U << 5,
    ckTabSheet = 1U << 6,
    ckTntTabSheet = 1U << 7,
    ckTntRadioButton = 1U << 8,
    ckSpeedButton = 1U << 9,
    ckTntSpeedButton = 1U << 10,
    ckButton = 1U << 11,
    ckTntButton = 1U << 12,
    ckTntBitBtn = 1U << 13,
};

/// How a text reaches a component: through the system's 8-bit code page
/// (characters it lacks become its default character), or unchanged.
enum class TextForm { EightBit, Unicode };

using TextSetter = std::function<void(std::u16string_view text, TextForm form)>;

struct TComponent {
    std::string Name;
    std::uint32_t Kinds = 0;
    /// Sets the caption; empty for components that have none.
    TextSetter SetCaption;
    /// Sets the hint (tooltip); empty for components that have none.
    TextSetter SetHint;
    /// The components this one owns, in ownership order.
    std::vector<TComponent> Components;
};

} // namespace velantro::localise
