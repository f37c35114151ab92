#pragma once

// The source names of the vocabulary's values ("cmStatus"), for tools and
// test output.

#include "skype/SkypeControlConst.h"

#include <string_view>

namespace velantro::skype {

std::string_view ValueName(TSkypeUserStatus value);
std::string_view ValueName(TSkypeConnStatus value);
std::string_view ValueName(TSkypeSearchType value);
std::string_view ValueName(TSkypeUserProperty value);
std::string_view ValueName(TSkypeCallProperty value);
std::string_view ValueName(TSkypeMessageProperty value);
std::string_view ValueName(TSkypeChatProperty value);
std::string_view ValueName(TSkypeChatMsgProperty value);
std::string_view ValueName(TSkypePrivilege value);
std::string_view ValueName(TSkypeProfile value);

} // namespace velantro::skype
