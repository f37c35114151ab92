// Where skype-peer finds the account and its password: the account file of
// the user unit, the new password asked for, and what the keyring's
// failures are taken for and tell the user.

#include "XmppPassword.h"

#include "PeerProgram.h"
#include "XmppKeyring.h"
#include "XmppSettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qt6keychain/keychain.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velantro::standins {
namespace {

using ::testing::HasSubstr;

XmppSettings FromFile(std::string_view text, XmppSettings settings = {}) {
    ReadXmppConfig(text, "xmpp.conf", "/home/ana/.config/velantro", "/home/ana", settings);
    return settings;
}

TEST(XmppAccountFile, GivesTheAccountAndItsServerWithPathsFromItsFolder) {
    const XmppSettings settings = FromFile("# Velantro's account\n"
                                           "jid = ana@example.org\r\n"
                                           "\n"
                                           "  server=xmpp.example.org:5223  \n"
                                           "ca = certs/ca.pem\n"
                                           "password-file = ~/.xmpp-password\n");
    EXPECT_EQ(settings.Jid, "ana@example.org");
    EXPECT_EQ(settings.ServerHost, "xmpp.example.org");
    EXPECT_EQ(settings.ServerPort, 5223);
    EXPECT_EQ(settings.CaFile, "/home/ana/.config/velantro/certs/ca.pem");
    EXPECT_EQ(settings.PasswordFile, "/home/ana/.xmpp-password");
    EXPECT_EQ(FromFile("ca = /etc/ssl/ca.pem").CaFile, "/etc/ssl/ca.pem");
}

TEST(XmppAccountFile, TheCommandLineWins) {
    XmppSettings given;
    given.Jid = "bob@example.org";
    given.ServerHost = "localhost";
    given.ServerPort = 15222;
    const XmppSettings settings =
        FromFile("jid = ana@example.org\nserver = xmpp.example.org\nca = ca.pem\n", given);
    EXPECT_EQ(settings.Jid, "bob@example.org");
    EXPECT_EQ(settings.ServerHost, "localhost");
    EXPECT_EQ(settings.ServerPort, 15222);
    EXPECT_EQ(settings.CaFile, "/home/ana/.config/velantro/ca.pem");
}

TEST(XmppAccountFile, RefusesWhatItCannotReadNamingTheLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"jid ana@example.org", "xmpp.conf line 1: expected \"key = value\""},
        {"\n# fine\njid = a@b\njid = c@d", "xmpp.conf line 4: jid is given twice"},
        {"password = s3cret", "xmpp.conf line 1: unknown key \"password\""},
        {"server = host:port", "xmpp.conf line 1: server needs HOST or HOST:PORT"},
        {"jid =", "xmpp.conf line 1: jid has no value"},
    };
    for (const auto& [text, expected] : cases) {
        try {
            FromFile(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const std::invalid_argument& error) {
            EXPECT_THAT(error.what(), ::testing::StartsWith(expected)) << text;
        }
    }
}

TEST(XmppAccountFile, OnTheCommandLineItNamesTheAccountAsXmppDoes) {
    const auto read = [](std::vector<std::string_view> args) {
        return ReadPeerArguments(args);
    };
    const PeerSettings settings = read({"--xmpp-config", "xmpp.conf", "--xmpp-ca", "ca.pem"});
    EXPECT_EQ(settings.Xmpp.ConfigPath, "xmpp.conf");
    EXPECT_TRUE(read({"--xmpp", "ana@localhost", "--remember-password"}).Xmpp.RememberPassword);
    const std::vector<std::vector<std::string_view>> refused = {
        {"--remember-password"},
        {"--xmpp-config", "xmpp.conf", "--script", "demo.txt"},
    };
    for (const auto& args : refused) {
        EXPECT_THROW(read(args), std::invalid_argument) << ::testing::PrintToString(args);
    }
    XmppSettings both;
    both.Jid = "ana@localhost";
    both.RememberPassword = true;
    both.PasswordFile = "pw";
    EXPECT_THROW(CheckXmppSettings(both), std::invalid_argument);
}

TEST(XmppPassword, ANewPasswordIsAskedTwiceOnATerminalAndReadOnceFromAPipe) {
    struct Case {
        std::string Input;
        bool Confirm;
        std::string Expected; // empty: refused
    };
    const Case cases[] = {
        {"s3cret pass\r\nrest\n", false, "s3cret pass"},
        {"\ns3cret\n", false, ""},
        {"s3cret\ns3cret\n", true, "s3cret"},
        {"s3cret\ns3crte\n", true, ""}, // a typing mistake is not stored
        {"s3cret\n", true, ""},
        {"\n\n", true, ""},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.Input);
        std::ostringstream prompts;
        try {
            EXPECT_EQ(AskForPassword("ana@example.org", in, prompts, c.Confirm), c.Expected)
                << ::testing::PrintToString(c.Input);
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(c.Expected, "") << error.what();
        }
        // Asked for by the account's name, and never shown.
        EXPECT_EQ(prompts.str().find("s3cret"), std::string::npos);
        EXPECT_EQ(prompts.str().empty(), !c.Confirm) << prompts.str();
        if (c.Confirm) {
            EXPECT_THAT(prompts.str(), HasSubstr("Password of ana@example.org: "));
        }
    }
}

TEST(XmppKeyring, AFailureIsTakenForWhatTheServiceStateShows) {
    using enum SecretServiceState;
    struct Case {
        QKeychain::Error Error;
        SecretServiceState State;
        KeyringOutcome Expected;
    };
    const Case cases[] = {
        {QKeychain::NoError, Unlocked, KeyringOutcome::Done},
        {QKeychain::EntryNotFound, Unlocked, KeyringOutcome::NotFound},
        // libsecret finds nothing in a keyring it could not unlock.
        {QKeychain::EntryNotFound, Locked, KeyringOutcome::Locked},
        // A KWallet user: no Secret Service, the wallet has no entry.
        {QKeychain::EntryNotFound, Absent, KeyringOutcome::NotFound},
        {QKeychain::AccessDenied, Unlocked, KeyringOutcome::Locked},
        {QKeychain::AccessDeniedByUser, Unlocked, KeyringOutcome::Locked},
        {QKeychain::NoBackendAvailable, Absent, KeyringOutcome::Unavailable},
        // libsecret's bus errors: nobody serves the name.
        {QKeychain::OtherError, Absent, KeyringOutcome::Unavailable},
        {QKeychain::OtherError, Locked, KeyringOutcome::Locked},
        {QKeychain::OtherError, Unlocked, KeyringOutcome::Failed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyKeyringError(c.Error, c.State), c.Expected)
            << "error " << c.Error << ", state " << static_cast<int>(c.State);
    }
}

} // namespace
} // namespace velantro::standins
