// Lines parsed and dispatched per second over a realistic mix of the chat
// client's lines, beside a baseline that only copies each line into a string.

#include "skype/SkypeControl.h"
#include "skype/SkypeTokens.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace {

using namespace velantro::skype;

std::vector<std::string> RealisticMix() {
    std::vector<std::string> lines;
    const std::string handles[] = {"alice", "bob.smith", "carol_1975", "dmitri.petrov"};
    for (int i = 0; i < 64; ++i) {
        const std::string id = std::to_string(40000 + i);
        const std::string& handle = handles[i % 4];
        lines.push_back("CHATMESSAGE " + id + " STATUS RECEIVED");
        lines.push_back("CHATMESSAGE " + id + " FROM_HANDLE " + handle);
        lines.push_back("CHATMESSAGE " + id + " BODY Hola, ¿cómo estás? Nos vemos mañana a las " +
                        std::to_string(i % 24) + " en la estación.");
        lines.push_back("CHATMESSAGE " + id + " STATUS READ");
        lines.push_back("USER " + handle + " ONLINESTATUS ONLINE");
        lines.push_back("USER " + handle + " FULLNAME " + handle + " Example");
        if (i % 8 == 0) {
            lines.push_back("USERS alice, bob.smith, carol_1975, dmitri.petrov, echo123");
            lines.push_back("CONNSTATUS ONLINE");
        }
    }
    return lines;
}

void ParseAndDispatch(benchmark::State& state) {
    const auto lines = RealisticMix();
    TSkypeControl control;
    control.Protocol = 4;
    std::size_t delivered = 0;
    control.OnChatMsgInfo = [&](std::int32_t, TSkypeChatMsgProperty, std::string data) {
        delivered += data.size();
    };
    control.OnUserInfo = [&](std::string, TSkypeUserProperty, std::string data) {
        delivered += data.size();
    };
    control.OnSearchResult = [&](TSkypeSearchType, TStringList list) {
        delivered += list.size();
    };
    control.OnConnStatus = [&](TSkypeConnStatus status) {
        delivered += status;
    };
    for (auto _ : state) {
        for (const auto& line : lines) {
            std::string_view rest = line;
            const auto first = NextToken(rest, Blank);
            control.DispatchNotification(first, rest);
        }
        benchmark::DoNotOptimize(delivered);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.size()));
}

void CopyBaseline(benchmark::State& state) {
    const auto lines = RealisticMix();
    for (auto _ : state) {
        for (const auto& line : lines) {
            std::string copy(line);
            benchmark::DoNotOptimize(copy.data());
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.size()));
}

} // namespace

BENCHMARK(CopyBaseline);
BENCHMARK(ParseAndDispatch);

BENCHMARK_MAIN();
