#pragma once

#include "skype/SkypeControl.h"

#include <functional>
#include <string>

namespace velantro::tools {

/// Receives one printed event line (no line break).
using EventSink = std::function<void(const std::string& line)>;

/// Sets every event of control to print itself as one line: the event name,
/// then each argument after a TAB. Integers in decimal, enumeration values by
/// name, booleans as true/false, strings escaped with EscapeBytes, lists as
/// their items joined by ",".
void PrintEveryEvent(skype::TSkypeControl& control, const EventSink& sink);

} // namespace velantro::tools
