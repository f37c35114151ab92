#pragma once

// The lines skype-peer plays: from a script file or typed at its console.
//
//   # a comment               ignored, as are blank lines
//   alice: hola               a message from alice with the text "hola"
//   wait 500                  a pause of 500 ms (script files only)
//   raw USERSTATUS ONLINE     a line sent as it is to every attached program
//
// Texts may hold \n, \r, \t, \\ and \xHH for a line break, a carriage
// return, a TAB, a backslash and any byte.

#include "ChatClient.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::standins {

struct ScriptStep {
    enum class Kind { Message, Wait, Raw };
    Kind What = Kind::Message;
    IncomingMessage Message;            // Kind::Message
    std::chrono::milliseconds Pause{0}; // Kind::Wait
    std::string Line;                   // Kind::Raw

    bool operator==(const ScriptStep&) const = default;
};

/// Reads one line; nothing for a blank line or a comment. Throws
/// std::invalid_argument saying what is wrong with a line it cannot read.
std::optional<ScriptStep> ParseScriptLine(std::string_view line);

/// Reads a whole script file. Throws std::runtime_error naming the file and
/// the line when a line cannot be read or the file cannot be opened.
std::vector<ScriptStep> ReadScript(const std::string& path);

/// Undoes the escapes above. Throws std::invalid_argument for a backslash
/// that starts none of them.
std::string UnescapeText(std::string_view text);

} // namespace velantro::standins
