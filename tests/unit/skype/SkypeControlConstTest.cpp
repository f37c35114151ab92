#include "skype/SkypeControlConst.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

using namespace velantro::skype;

namespace {

/// Which protocols support every ordinal of a table, written as "1234", "-234"
/// and so on, one entry per ordinal - the same shape as the published tables.
template <typename E>
std::vector<std::string> SupportColumns(const TSupportTable<E>& table, std::size_t count) {
    std::vector<std::string> columns;
    for (std::size_t ordinal = 0; ordinal < count; ++ordinal) {
        std::string column;
        for (int protocol = 1; protocol <= 4; ++protocol) {
            column += IsSupported(table, protocol, static_cast<E>(ordinal))
                          ? static_cast<char>('0' + protocol)
                          : '-';
        }
        columns.push_back(column);
    }
    return columns;
}

template <typename E, std::size_t N>
void ExpectDistinctWords(const TWordTable<E, N>& table) {
    std::set<std::string_view> seen(table.Words.begin(), table.Words.end());
    EXPECT_EQ(seen.size(), N);
    for (auto word : table.Words) {
        EXPECT_FALSE(word.empty());
    }
}

using Columns = std::vector<std::string>;

} // namespace

TEST(SkypeControlConst, SupportTablesMatchThePublishedRows) {
    const std::string all = "1234";
    EXPECT_EQ(SupportColumns(UserStatusByProtocol, 9),
              (Columns{all, all, all, all, all, all, all, all, "-234"}));
    EXPECT_EQ(SupportColumns(ConnStatusByProtocol, 5), (Columns{all, all, all, all, all}));
    EXPECT_EQ(SupportColumns(SearchTypeByProtocol, 14),
              (Columns{all, all, all, all, all, "12--", all, "--34", "---4", "---4", "---4", "---4",
                       "--34", "--34"}));
    EXPECT_EQ(SupportColumns(UserPropertyByProtocol, 20), Columns(20, all));
    EXPECT_EQ(SupportColumns(CallPropertyByProtocol, 16),
              (Columns{all, all, all, all, "----", "---4", "---4", all, all, all, all, all, all,
                       "----", "----", all}));
    EXPECT_EQ(SupportColumns(MessagePropertyByProtocol, 9),
              (Columns{"12--", "12--", "12--", "12--", "12--", "12--", "----", "12--", "12--"}));
    EXPECT_EQ(
        SupportColumns(ChatPropertyByProtocol, 10),
        (Columns{"--34", "--34", "--34", "--34", "--34", "--34", "--34", "---4", "--34", "--34"}));
    EXPECT_EQ(
        SupportColumns(ChatMsgPropertyByProtocol, 10),
        (Columns{"--34", "--34", "--34", "--34", "--34", "--34", "--34", "--34", "--34", "----"}));
    EXPECT_EQ(SupportColumns(PrivilegeByProtocol, 1), (Columns{all}));
    EXPECT_EQ(SupportColumns(ProfileByProtocol, 2), (Columns{"---4", "---4"}));
}

TEST(SkypeControlConst, NoTableHoldsAWordTwice) {
    ExpectDistinctWords(UserStatusWords);
    ExpectDistinctWords(ConnStatusWords);
    ExpectDistinctWords(SearchTypeWords);
    ExpectDistinctWords(UserPropertyWords);
    ExpectDistinctWords(CallPropertyWords);
    ExpectDistinctWords(MessagePropertyWords);
    ExpectDistinctWords(ChatPropertyWords);
    ExpectDistinctWords(ChatMsgPropertyWords);
    ExpectDistinctWords(PrivilegeWords);
    ExpectDistinctWords(ProfileWords);
}

TEST(SkypeControlConst, LookupIsExactAndPerTable) {
    EXPECT_EQ(LookupWord(UserStatusWords, "ONLINE"), usOnline);
    EXPECT_EQ(LookupWord(ConnStatusWords, "ONLINE"), csOnline);
    EXPECT_EQ(LookupWord(UserStatusWords, "online"), usUnknown);
    EXPECT_EQ(LookupWord(UserStatusWords, "ONLINE "), usUnknown);
    EXPECT_EQ(LookupWord(UserStatusWords, "ONLIN"), usUnknown);
    EXPECT_EQ(LookupWord(UserStatusWords, ""), usUnknown);
    EXPECT_EQ(LookupWord(UserStatusWords, "SKYPEME"), usSkypeMe);
    EXPECT_EQ(LookupWord(CallPropertyWords, "STATUS"), cpStatus);
    EXPECT_EQ(LookupWord(MessagePropertyWords, "STATUS"), mpStatus);
    EXPECT_EQ(LookupWord(ChatPropertyWords, "STATUS"), chStatus);
    EXPECT_EQ(LookupWord(ChatMsgPropertyWords, "STATUS"), cmStatus);
    EXPECT_EQ(LookupWord(ChatMsgPropertyWords, "NOSUCHWORD"), cmChatname);
    EXPECT_EQ(LookupWord(ProfileWords, "PSTN_BALANCE_CURRENCY"), spfPSTNBalanceCurrency);
    EXPECT_EQ(SearchTypeWords[stMissedChatMsgs], "MISSEDCHATMESSAGES");
}

TEST(SkypeControlConst, ProtocolsOutsideOneToFour) {
    // A newer client speaks protocol 4's words; before any attach nothing is supported.
    EXPECT_TRUE(IsSupported(ChatPropertyByProtocol, 5, chChatMessages));
    EXPECT_TRUE(IsSupported(ProfileByProtocol, 1000, spfPSTNBalance));
    EXPECT_FALSE(IsSupported(MessagePropertyByProtocol, 7, mpBody));
    EXPECT_FALSE(IsSupported(UserStatusByProtocol, 0, usUnknown));
    EXPECT_FALSE(IsSupported(UserStatusByProtocol, -1, usOnline));
    EXPECT_FALSE(IsSupported(PrivilegeByProtocol, -2147483647 - 1, spSkypeOut));
}
