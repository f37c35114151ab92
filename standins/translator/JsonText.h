#pragma once

// Reading one string out of a JSON reply, with Qt's JSON parser.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace velantro::standins {

/// The string that a path of member names leads to in a JSON text:
/// {"a": {"b": "x"}} and the path a, b give x, decoded to UTF-16 (escapes
/// included). Empty when the text is not JSON (nesting over Qt's limit of
/// 1,024 included) or the path leads to no string; where a name repeats, its
/// last member counts.
std::optional<std::u16string> JsonStringAt(std::string_view json,
                                           std::initializer_list<std::u16string_view> path);

} // namespace velantro::standins
