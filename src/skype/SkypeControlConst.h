#pragma once

// The chat client's protocol vocabulary: for every closed set of protocol
// words an enumeration, the word of each value and the protocol versions
// (1 to 4) that may carry it. All tables are constants shared read-only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>

namespace velantro::skype {

enum TSkypeUserStatus : std::uint8_t {
    usUnknown,
    usOnline,
    usOffline,
    usAway,
    usNA,
    usDND,
    usInvisible,
    usLoggedOut,
    usSkypeMe,
};

enum TSkypeConnStatus : std::uint8_t {
    csOffline,
    csConnecting,
    csPausing,
    csOnline,
    csLoggedOut,
};

enum TSkypeSearchType : std::uint8_t {
    stUsers,
    stFriends,
    stCalls,
    stActiveCalls,
    stMissedCalls,
    stMessages,
    stMissedMessages,
    stChats,
    stActiveChats,
    stMissedChats,
    stRecentChats,
    stBookmarkedChats,
    stChatMsgs,
    stMissedChatMsgs,
};

enum TSkypeUserProperty : std::uint8_t {
    upHandle,
    upFullname,
    upBirthday,
    upSex,
    upLanguage,
    upCountry,
    upProvince,
    upCity,
    upPhoneHome,
    upPhoneOffice,
    upPhoneMobile,
    upHomepage,
    upAbout,
    upHasCallEquipment,
    upBuddyStatus,
    upIsAuthorized,
    upIsBlocked,
    upDisplayname,
    upOnlineStatus,
    upLastOnlineTimeStamp,
};

enum TSkypeCallProperty : std::uint8_t {
    cpTimestamp,
    cpPartnerHandle,
    cpPartnerDispname,
    cpConfId,
    cpJoinConference,
    cpConfParticipant,
    cpConfParticipantsCount,
    cpType,
    cpStatus,
    cpFailureReason,
    cpSubject,
    cpPSTNNumber,
    cpDuration,
    cpSeen,
    cpDTMF,
    cpPSTNStatus,
};

enum TSkypeMessageProperty : std::uint8_t {
    mpTimestamp,
    mpPartnerHandle,
    mpPartnerDispname,
    mpConfId,
    mpType,
    mpStatus,
    mpSeen,
    mpFailureReason,
    mpBody,
};

enum TSkypeChatProperty : std::uint8_t {
    chName,
    chTimestamp,
    chAdder,
    chStatus,
    chPosters,
    chMembers,
    chTopic,
    chChatMessages,
    chActiveMembers,
    chFriendlyname,
};

enum TSkypeChatMsgProperty : std::uint8_t {
    cmChatname,
    cmTimestamp,
    cmFromHandle,
    cmFromDispname,
    cmType,
    cmUsers,
    cmLeaveReason,
    cmBody,
    cmStatus,
    cmSeen,
};

enum TSkypePrivilege : std::uint8_t {
    spSkypeOut,
};

enum TSkypeProfile : std::uint8_t {
    spfPSTNBalance,
    spfPSTNBalanceCurrency,
};

/// The protocol word of every value of E, indexed by ordinal.
template <typename E, std::size_t N>
struct TWordTable {
    std::array<std::string_view, N> Words;

    constexpr std::string_view operator[](E value) const {
        return Words[static_cast<std::size_t>(value)];
    }
};

/// For protocols 1 to 4, the set of values of E that the protocol may carry
/// (one bit per ordinal).
template <typename E>
struct TSupportTable {
    std::array<std::uint32_t, 4> Rows;
};

/// Protocol columns, used to write a support table one value per entry.
enum TProtocolMask : std::uint8_t {
    P1 = 1,
    P2 = 2,
    P3 = 4,
    P4 = 8,
    PNone = 0,
    PAll = P1 | P2 | P3 | P4,
};

/// Builds a support table from the protocols of each value, in ordinal order.
template <typename E, std::size_t N>
constexpr TSupportTable<E> SupportByValue(const std::array<std::uint8_t, N>& protocolsOfValue) {
    static_assert(N <= 32, "one bit per ordinal");
    TSupportTable<E> table{};
    for (std::size_t ordinal = 0; ordinal < N; ++ordinal) {
        for (std::size_t protocol = 0; protocol < 4; ++protocol) {
            if ((protocolsOfValue[ordinal] >> protocol) & 1U) {
                table.Rows[protocol] |= 1U << ordinal;
            }
        }
    }
    return table;
}

/// Equality of two strings of the same length. The protocol's words are
/// short, so comparing eight bytes at a time inline beats a call to memcmp.
inline bool SameBytes(std::string_view a, std::string_view b) {
    const char* x = a.data();
    const char* y = b.data();
    std::size_t n = a.size();
    for (; n >= 8; n -= 8, x += 8, y += 8) {
        std::uint64_t u;
        std::uint64_t v;
        std::memcpy(&u, x, 8);
        std::memcpy(&v, y, 8);
        if (u != v) {
            return false;
        }
    }
    for (; n > 0; --n, ++x, ++y) {
        if (*x != *y) {
            return false;
        }
    }
    return true;
}

/// The ordinal of the first entry equal to word (exact bytes); ordinal 0 when
/// no entry is equal.
template <typename E, std::size_t N>
E LookupWord(const TWordTable<E, N>& table, std::string_view word) {
    for (std::size_t ordinal = 0; ordinal < N; ++ordinal) {
        const std::string_view entry = table.Words[ordinal];
        if (entry.size() == word.size() && SameBytes(entry, word)) {
            return static_cast<E>(ordinal);
        }
    }
    return static_cast<E>(0);
}

/// Whether protocol may carry value. A protocol above 4 uses protocol 4's row
/// (a newer client still speaks protocol 4's words); one below 1 supports nothing.
template <typename E>
constexpr bool IsSupported(const TSupportTable<E>& table, int protocol, E value) {
    if (protocol < 1) {
        return false;
    }
    const auto row = table.Rows[static_cast<std::size_t>(protocol > 4 ? 4 : protocol) - 1];
    return ((row >> static_cast<unsigned>(value)) & 1U) != 0;
}

// clang-format off
inline constexpr TWordTable<TSkypeUserStatus, 9> UserStatusWords{{
    "UNKNOWN", "ONLINE", "OFFLINE", "AWAY", "NA", "DND", "INVISIBLE", "LOGGEDOUT", "SKYPEME",
}};
inline constexpr auto UserStatusByProtocol = SupportByValue<TSkypeUserStatus, 9>({
    PAll, PAll, PAll, PAll, PAll, PAll, PAll, PAll, P2 | P3 | P4,
});

inline constexpr TWordTable<TSkypeConnStatus, 5> ConnStatusWords{{
    "OFFLINE", "CONNECTING", "PAUSING", "ONLINE", "LOGGEDOUT",
}};
inline constexpr auto ConnStatusByProtocol = SupportByValue<TSkypeConnStatus, 5>({
    PAll, PAll, PAll, PAll, PAll,
});

inline constexpr TWordTable<TSkypeSearchType, 14> SearchTypeWords{{
    "USERS", "FRIENDS", "CALLS", "ACTIVECALLS", "MISSEDCALLS", "MESSAGES", "MISSEDMESSAGES",
    "CHATS", "ACTIVECHATS", "MISSEDCHATS", "RECENTCHATS", "BOOKMARKEDCHATS", "CHATMESSAGES",
    "MISSEDCHATMESSAGES",
}};
inline constexpr auto SearchTypeByProtocol = SupportByValue<TSkypeSearchType, 14>({
    PAll, PAll, PAll, PAll, PAll,
    P1 | P2,      // stMessages
    PAll,
    P3 | P4,      // stChats
    P4, P4, P4, P4,
    P3 | P4,      // stChatMsgs
    P3 | P4,      // stMissedChatMsgs
});

inline constexpr TWordTable<TSkypeUserProperty, 20> UserPropertyWords{{
    "HANDLE", "FULLNAME", "BIRTHDAY", "SEX", "LANGUAGE", "COUNTRY", "PROVINCE", "CITY",
    "PHONE_HOME", "PHONE_OFFICE", "PHONE_MOBILE", "HOMEPAGE", "ABOUT", "HASCALLEQUIPMENT",
    "BUDDYSTATUS", "ISAUTHORIZED", "ISBLOCKED", "DISPLAYNAME", "ONLINESTATUS",
    "LASTONLINETIMESTAMP",
}};
inline constexpr auto UserPropertyByProtocol = SupportByValue<TSkypeUserProperty, 20>({
    PAll, PAll, PAll, PAll, PAll, PAll, PAll, PAll, PAll, PAll,
    PAll, PAll, PAll, PAll, PAll, PAll, PAll, PAll, PAll, PAll,
});

inline constexpr TWordTable<TSkypeCallProperty, 16> CallPropertyWords{{
    "TIMESTAMP", "PARTNER_HANDLE", "PARTNER_DISPNAME", "CONF_ID", "JOIN_CONFERENCE",
    "CONF_PARTICIPANT", "CONF_PARTICIPANTS_COUNT", "TYPE", "STATUS", "FAILUREREASON", "SUBJECT",
    "PSTN_NUMBER", "DURATION", "SEEN", "DTMF", "PSTN_STATUS",
}};
inline constexpr auto CallPropertyByProtocol = SupportByValue<TSkypeCallProperty, 16>({
    PAll, PAll, PAll, PAll,
    PNone,        // cpJoinConference
    P4, P4,       // cpConfParticipant, cpConfParticipantsCount
    PAll, PAll, PAll, PAll, PAll, PAll,
    PNone, PNone, // cpSeen, cpDTMF
    PAll,
});

inline constexpr TWordTable<TSkypeMessageProperty, 9> MessagePropertyWords{{
    "TIMESTAMP", "PARTNER_HANDLE", "PARTNER_DISPNAME", "CONF_ID", "TYPE", "STATUS", "SEEN",
    "FAILUREREASON", "BODY",
}};
inline constexpr auto MessagePropertyByProtocol = SupportByValue<TSkypeMessageProperty, 9>({
    P1 | P2, P1 | P2, P1 | P2, P1 | P2, P1 | P2, P1 | P2,
    PNone,        // mpSeen
    P1 | P2, P1 | P2,
});

inline constexpr TWordTable<TSkypeChatProperty, 10> ChatPropertyWords{{
    "NAME", "TIMESTAMP", "ADDER", "STATUS", "POSTERS", "MEMBERS", "TOPIC", "CHATMESSAGES",
    "ACTIVEMEMBERS", "FRIENDLYNAME",
}};
inline constexpr auto ChatPropertyByProtocol = SupportByValue<TSkypeChatProperty, 10>({
    P3 | P4, P3 | P4, P3 | P4, P3 | P4, P3 | P4, P3 | P4, P3 | P4,
    P4,           // chChatMessages
    P3 | P4, P3 | P4,
});

inline constexpr TWordTable<TSkypeChatMsgProperty, 10> ChatMsgPropertyWords{{
    "CHATNAME", "TIMESTAMP", "FROM_HANDLE", "FROM_DISPNAME", "TYPE", "USERS", "LEAVEREASON",
    "BODY", "STATUS", "SEEN",
}};
inline constexpr auto ChatMsgPropertyByProtocol = SupportByValue<TSkypeChatMsgProperty, 10>({
    P3 | P4, P3 | P4, P3 | P4, P3 | P4, P3 | P4, P3 | P4, P3 | P4, P3 | P4, P3 | P4,
    PNone,        // cmSeen
});

inline constexpr TWordTable<TSkypePrivilege, 1> PrivilegeWords{{"SKYPEOUT"}};
inline constexpr auto PrivilegeByProtocol = SupportByValue<TSkypePrivilege, 1>({PAll});

inline constexpr TWordTable<TSkypeProfile, 2> ProfileWords{{
    "PSTN_BALANCE", "PSTN_BALANCE_CURRENCY",
}};
inline constexpr auto ProfileByProtocol = SupportByValue<TSkypeProfile, 2>({P4, P4});
// clang-format on

} // namespace velantro::skype
