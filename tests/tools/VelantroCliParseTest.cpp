#include "support/RunProgram.h"

#include <gtest/gtest.h>

using velantro::testing::RunProgram;

namespace {

const std::string Cli = "./velantro-cli";

} // namespace

TEST(VelantroCliParse, PrintsEventsWithEscapedBytes) {
    const auto result =
        RunProgram(Cli, {"parse", "CHATMESSAGE 1234 SEEN x",
                         std::string("CHATMESSAGE 1 BODY a\\b\x01\x1f\t\r\n\xc3\xa9"), "FRIENDS",
                         "PONG", "MUTE ON"});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Out,
              "OnNotSupportedError\tReceived chatmessage property \"SEEN\" should not have been "
              "reveived (Protocol 4)\n"
              "OnChatMsgInfo\t1234\tcmSeen\tx\n"
              "OnChatMsgInfo\t1\tcmBody\ta\\\\b\\x01\\x1f\\t\\r\\n\xc3\xa9\n"
              "OnSearchResult\tstFriends\t\n"
              "OnPong\n"
              "OnMuteInfo\ttrue\n");
}

TEST(VelantroCliParse, ProtocolOptionAndProtocolLines) {
    const auto result = RunProgram(Cli, {"parse", "--protocol", "1", "USERSTATUS SKYPEME",
                                         "PROTOCOL 2", "USERSTATUS SKYPEME"});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Out,
              "OnNotSupportedError\tReceived Userstatus \"SKYPEME\" should not have been "
              "reveived (Protocol 1)\n"
              "OnUserStatus\tusSkypeMe\n"
              "OnProtocol\t2\n"
              "OnUserStatus\tusSkypeMe\n");
}

TEST(VelantroCliParse, RejectsABadProtocolOption) {
    for (const auto& args : {std::vector<std::string>{"parse", "--protocol"},
                             std::vector<std::string>{"parse", "--protocol", "four", "PONG"}}) {
        const auto result = RunProgram(Cli, args);
        EXPECT_EQ(result.ExitCode, 2);
        EXPECT_EQ(result.Out, "");
        EXPECT_NE(result.Err.find("--protocol takes an integer"), std::string::npos);
    }
}
