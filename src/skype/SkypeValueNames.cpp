#include "skype/SkypeValueNames.h"

#include <array>

namespace velantro::skype {

namespace {

// clang-format off
constexpr std::array<std::string_view, 9> UserStatusNames{
    "usUnknown", "usOnline", "usOffline", "usAway", "usNA", "usDND", "usInvisible",
    "usLoggedOut", "usSkypeMe"};
constexpr std::array<std::string_view, 5> ConnStatusNames{
    "csOffline", "csConnecting", "csPausing", "csOnline", "csLoggedOut"};
constexpr std::array<std::string_view, 14> SearchTypeNames{
    "stUsers", "stFriends", "stCalls", "stActiveCalls", "stMissedCalls", "stMessages",
    "stMissedMessages", "stChats", "stActiveChats", "stMissedChats", "stRecentChats",
    "stBookmarkedChats", "stChatMsgs", "stMissedChatMsgs"};
constexpr std::array<std::string_view, 20> UserPropertyNames{
    "upHandle", "upFullname", "upBirthday", "upSex", "upLanguage", "upCountry", "upProvince",
    "upCity", "upPhoneHome", "upPhoneOffice", "upPhoneMobile", "upHomepage", "upAbout",
    "upHasCallEquipment", "upBuddyStatus", "upIsAuthorized", "upIsBlocked", "upDisplayname",
    "upOnlineStatus", "upLastOnlineTimeStamp"};
constexpr std::array<std::string_view, 16> CallPropertyNames{
    "cpTimestamp", "cpPartnerHandle", "cpPartnerDispname", "cpConfId", "cpJoinConference",
    "cpConfParticipant", "cpConfParticipantsCount", "cpType", "cpStatus", "cpFailureReason",
    "cpSubject", "cpPSTNNumber", "cpDuration", "cpSeen", "cpDTMF", "cpPSTNStatus"};
constexpr std::array<std::string_view, 9> MessagePropertyNames{
    "mpTimestamp", "mpPartnerHandle", "mpPartnerDispname", "mpConfId", "mpType", "mpStatus",
    "mpSeen", "mpFailureReason", "mpBody"};
constexpr std::array<std::string_view, 10> ChatPropertyNames{
    "chName", "chTimestamp", "chAdder", "chStatus", "chPosters", "chMembers", "chTopic",
    "chChatMessages", "chActiveMembers", "chFriendlyname"};
constexpr std::array<std::string_view, 10> ChatMsgPropertyNames{
    "cmChatname", "cmTimestamp", "cmFromHandle", "cmFromDispname", "cmType", "cmUsers",
    "cmLeaveReason", "cmBody", "cmStatus", "cmSeen"};
constexpr std::array<std::string_view, 1> PrivilegeNames{"spSkypeOut"};
constexpr std::array<std::string_view, 2> ProfileNames{"spfPSTNBalance", "spfPSTNBalanceCurrency"};
// clang-format on

template <std::size_t N>
std::string_view NameAt(const std::array<std::string_view, N>& names, unsigned ordinal) {
    return ordinal < N ? names[ordinal] : std::string_view{"?"};
}

} // namespace

std::string_view ValueName(TSkypeUserStatus value) {
    return NameAt(UserStatusNames, value);
}
std::string_view ValueName(TSkypeConnStatus value) {
    return NameAt(ConnStatusNames, value);
}
std::string_view ValueName(TSkypeSearchType value) {
    return NameAt(SearchTypeNames, value);
}
std::string_view ValueName(TSkypeUserProperty value) {
    return NameAt(UserPropertyNames, value);
}
std::string_view ValueName(TSkypeCallProperty value) {
    return NameAt(CallPropertyNames, value);
}
std::string_view ValueName(TSkypeMessageProperty value) {
    return NameAt(MessagePropertyNames, value);
}
std::string_view ValueName(TSkypeChatProperty value) {
    return NameAt(ChatPropertyNames, value);
}
std::string_view ValueName(TSkypeChatMsgProperty value) {
    return NameAt(ChatMsgPropertyNames, value);
}
std::string_view ValueName(TSkypePrivilege value) {
    return NameAt(PrivilegeNames, value);
}
std::string_view ValueName(TSkypeProfile value) {
    return NameAt(ProfileNames, value);
}

} // namespace velantro::skype
