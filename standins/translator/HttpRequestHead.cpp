#include "HttpRequestHead.h"

#include "common/AsciiText.h"

#include <charconv>

namespace velantro::standins {

namespace {

bool IsToken(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F || c == ':' || c == '"' || c == '(' ||
            c == ')' || c == ',' || c == ';' || c == '/' || c == '\\' || c == '[' || c == ']' ||
            c == '{' || c == '}' || c == '<' || c == '>' || c == '=' || c == '?' || c == '@') {
            return false;
        }
    }
    return true;
}

bool ReadRequestLine(std::string_view line, RequestHead& head) {
    const auto first = line.find(' ');
    const auto last = line.rfind(' ');
    if (first == std::string_view::npos || first == last) {
        return false;
    }
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, last - first - 1);
    const std::string_view version = line.substr(last + 1);
    if (!IsToken(method) || target.empty() ||
        target.find_first_of(" \t") != std::string_view::npos ||
        (version != "HTTP/1.0" && version != "HTTP/1.1")) {
        return false;
    }
    head.Method = method;
    head.Target = target;
    return true;
}

bool ReadHeader(std::string_view line, RequestHead& head, bool& lengthSeen) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) {
        return false;
    }
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = common::TrimBlanks(line.substr(colon + 1));
    if (common::EqualsNoCaseAscii(name, "Content-Length")) {
        std::uint64_t length = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), length);
        if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
            (lengthSeen && length != head.ContentLength)) {
            return false;
        }
        head.ContentLength = length;
        lengthSeen = true;
    } else if (common::EqualsNoCaseAscii(name, "Transfer-Encoding")) {
        head.TransferEncoded = true;
    } else if (common::EqualsNoCaseAscii(name, "Expect")) {
        head.ExpectsContinue = common::EqualsNoCaseAscii(value, "100-continue");
    }
    return true;
}

} // namespace

std::ostream& operator<<(std::ostream& out, const RequestHead& head) {
    return out << "{" << head.Method << " " << head.Target << ", length " << head.ContentLength
               << (head.TransferEncoded ? ", transfer-encoded" : "")
               << (head.ExpectsContinue ? ", expects continue" : "") << "}";
}

std::optional<RequestHead> ParseRequestHead(std::string_view head) {
    RequestHead result;
    bool lengthSeen = false;
    bool first = true;
    while (true) {
        const auto end = head.find("\r\n");
        const std::string_view line = head.substr(0, end);
        const bool read =
            first ? ReadRequestLine(line, result) : ReadHeader(line, result, lengthSeen);
        if (!read) {
            return std::nullopt;
        }
        first = false;
        if (end == std::string_view::npos) {
            return result;
        }
        head.remove_prefix(end + 2);
    }
}

} // namespace velantro::standins
