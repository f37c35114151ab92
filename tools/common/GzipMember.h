#pragma once

#include <string>
#include <string_view>

namespace velantro::tools {

/// One gzip member holding data, compressed at the best level. The header has
/// no time stamp, so the same data always gives the same bytes. Throws
/// std::runtime_error when compression fails.
std::string GzipMember(std::string_view data);

} // namespace velantro::tools
