// A chat client that floods the program with notifications on a private
// session bus: the real bus windows, the component and the incoming flow,
// and a peer process (tests/e2e/app/fake_chat_client.py) that sends each
// line without waiting for the one before, as fast as the bus takes them.

#include "app/ConversationFlows.h"
#include "platform/bus/BusWindows.h"
#include "skype/SkypeControl.h"
#include "support/EventLoopWait.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace velantro {
namespace {

using namespace std::chrono_literals;
using testing::TestApplication;
using testing::WaitUntil;

/// The pages' entries, one log for all: the flood has one sender.
struct EntryLog final : app::ConversationLog {
    std::vector<std::u16string> Entries;
    void AppendLine(std::u16string_view text) override { Entries.emplace_back(text); }
};

struct PlainView final : app::MainView {
    EntryLog Log;
    std::int32_t ReceiveLanguageIndex() const override { return 0; }
    std::int32_t SendLanguageIndex() const override { return 0; }
    std::string ContactText() const override { return {}; }
    void SelectContact(std::string_view) override {}
    void SetContacts(const std::vector<std::string>&) override {}
    std::u16string MessageText() const override { return {}; }
    void ClearMessage() override {}
    void EnableSend(bool) override {}
    app::ConversationLog* FindOrCreatePage(const std::string&) override { return &Log; }
    void ShowPages() override {}
    void AppendToCaption(std::string_view) override {}
};

long PeakMemoryKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

/// The number in an entry "alice: Hola <n>"; -1 for any other text.
long NumberOf(const std::u16string& entry) {
    constexpr std::u16string_view Prefix = u"alice: Hola ";
    if (!entry.starts_with(Prefix)) {
        return -1;
    }
    long value = 0;
    for (const char16_t c : entry.substr(Prefix.size())) {
        if (c < u'0' || c > u'9') {
            return -1;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

TEST(BusFlood, AHundredThousandNotificationsAreEachShownOnceAtABoundedDepth) {
    // VELANTRO_FLOOD_COUNT tries another size.
    const long Count = qEnvironmentVariableIsSet("VELANTRO_FLOOD_COUNT")
                           ? qEnvironmentVariableIntValue("VELANTRO_FLOOD_COUNT")
                           : 100'000;
    TestApplication();
    platform::BusWindows windows("flooded program");
    ASSERT_TRUE(windows.Connected()) << windows.ErrorText();
    skype::TSkypeControl skype(&windows);
    PlainView view;
    // How far below the flow's first frame the stack reaches while handling.
    const char* top = nullptr;
    std::ptrdiff_t deepestStack = 0;
    app::ConversationFlows flows(
        view, skype, [](std::u16string_view text, std::int32_t) { return std::u16string(text); });
    skype.OnChatMsgInfo = [&](std::int32_t id, skype::TSkypeChatMsgProperty property,
                              const std::string& data) {
        const char here = 0;
        if (top == nullptr) {
            top = &here;
        }
        deepestStack = std::max(deepestStack, top - &here);
        flows.SkypeControlChatMsgInfo(id, property, data);
    };

    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.setStandardOutputFile(QProcess::nullDevice());
    client.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(FAKE_CHAT_CLIENT)});
    ASSERT_TRUE(client.waitForStarted(10'000));
    // The client answers discovery once its window is on the bus.
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (!skype.IsAttached()) {
                skype.Attach(4);
            }
            return skype.IsAttached();
        },
        30s));

    QByteArray lines;
    for (long n = 0; n < Count; ++n) {
        lines += QByteArray("CHATMESSAGE " + QByteArray::number(static_cast<qlonglong>(n)) +
                            " STATUS RECEIVED")
                     .append('\0')
                     .toHex();
        lines += '\n';
    }
    const auto start = std::chrono::steady_clock::now();
    client.write(lines);
    EXPECT_TRUE(
        WaitUntil([&] { return static_cast<long>(view.Log.Entries.size()) >= Count; }, 280s))
        << view.Log.Entries.size() << " shown, " << skype.MostWaiting() << " waited at most";
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    WaitUntil([] { return false; }, 500ms); // nothing more comes
    client.closeWriteChannel();
    client.waitForFinished(10'000);

    std::map<long, int> shown;
    long inversions = 0;
    long previous = -1;
    for (const std::u16string& entry : view.Log.Entries) {
        const long n = NumberOf(entry);
        ++shown[n];
        inversions += n < previous ? 1 : 0;
        previous = n;
    }
    EXPECT_EQ(view.Log.Entries.size(), static_cast<std::size_t>(Count));
    EXPECT_EQ(shown.size(), static_cast<std::size_t>(Count));
    EXPECT_EQ(shown.begin()->first, 0);
    EXPECT_EQ(shown.rbegin()->first, Count - 1);
    EXPECT_TRUE(
        std::all_of(shown.begin(), shown.end(), [](const auto& e) { return e.second == 1; }));
    EXPECT_EQ(flows.PendingMessages().QueueHead(), nullptr);
    EXPECT_LE(skype.DeepestHandling(), skype::TSkypeControl::MaxHandlingDepth);
    EXPECT_LT(deepestStack, 256 * 1024);
    std::printf("%ld notifications: all shown in %.1f s; %ld shown after a later one; "
                "handling depth %d, stack %td bytes below the first handler, at most %zu "
                "messages waiting; peak memory %ld KiB\n",
                Count, seconds, inversions, skype.DeepestHandling(), deepestStack,
                skype.MostWaiting(), PeakMemoryKiB());
}

} // namespace
} // namespace velantro
