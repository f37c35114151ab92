// The conversation history at the program's start and in a search.
//
// OpenAndLoad opens a history file and loads each partner's newest 200
// entries, as the window fills its pages at start: with 100,000 entries over
// 50 partners, beside an empty file (the fixed cost of opening), in the same
// run. The files are in the system's page cache, as after any recent use;
// the check of the whole file at opening (quick_check) reads all of it.
//   bench/compare.py --time build/bin/history_store_bench
//       OpenAndLoad/empty/real_time:OpenAndLoad/full/real_time
// Search finds one partner's entries among the 100,000 (about 2,000 each),
// beside loading a page of as many entries:
//   bench/compare.py --time build/bin/history_store_bench
//       RecentPage/real_time:Search/common/real_time RecentPage/real_time:Search/one/real_time
// Append is the cost of storing one entry (a transaction of its own).

#include "HistoryFill.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

namespace {

using namespace velantro::history;
namespace fs = std::filesystem;

constexpr std::size_t Entries = 100000;
constexpr std::size_t Partners = 50;
constexpr std::size_t PageEntries = 200;
constexpr std::size_t Found = 50;
using Handles = std::vector<std::string>;

/// The benchmark's files, made once in a folder of their own and removed
/// with it.
class Files {
public:
    Files()
        : Folder(fs::temp_directory_path() /
                 ("velantro-history-bench-" + std::to_string(::getpid()))) {
        fs::create_directories(Folder);
        auto empty = HistoryStore::Open(Empty());
        auto full = HistoryStore::Open(Full());
        if (!empty.Store || !full.Store) {
            Problem = empty.Detail + full.Detail;
        } else if (!bench::Fill(*full.Store, Entries, Partners)) {
            Problem = full.Store->LastError();
        }
    }
    ~Files() {
        std::error_code ignored;
        fs::remove_all(Folder, ignored);
    }
    Files(const Files&) = delete;
    Files& operator=(const Files&) = delete;

    fs::path Empty() const { return Folder / "empty.db"; }
    fs::path Full() const { return Folder / "full.db"; }

    const fs::path Folder;
    std::string Problem;
};

const Files& TheFiles() {
    static const Files files;
    return files;
}

/// Opens the file, and with pages loads each partner's newest entries.
void OpenAndLoad(benchmark::State& state, bool full, bool pages = true) {
    const Files& files = TheFiles();
    if (!files.Problem.empty()) {
        state.SkipWithError(files.Problem.c_str());
        return;
    }
    const fs::path file = full ? files.Full() : files.Empty();
    std::size_t loaded = 0;
    for (auto _ : state) {
        const auto opened = HistoryStore::Open(file);
        if (!opened.Store) {
            state.SkipWithError(opened.Detail.c_str());
            break;
        }
        loaded = 0;
        for (const auto& partner : pages ? opened.Store->Conversations() : Handles{}) {
            loaded += opened.Store->Recent(partner, PageEntries).Entries.size();
        }
        benchmark::DoNotOptimize(loaded);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["entries_loaded"] = static_cast<double>(loaded);
}
BENCHMARK_CAPTURE(OpenAndLoad, empty, false)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenAndLoad, full, true)->UseRealTime()->Unit(benchmark::kMillisecond);
// The opening alone, to tell its share from the pages'.
BENCHMARK_CAPTURE(OpenAndLoad, full_open_only, true, false)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

/// Runs one partner's query after another over the full file.
template <typename Query>
void OverPartners(benchmark::State& state, Query query) {
    const Files& files = TheFiles();
    const auto opened = HistoryStore::Open(files.Full());
    if (!opened.Store) {
        state.SkipWithError((files.Problem + opened.Detail).c_str());
        return;
    }
    std::size_t partner = 0;
    std::size_t results = 0;
    for (auto _ : state) {
        results = query(*opened.Store, bench::PartnerHandle(partner++ % Partners));
        benchmark::DoNotOptimize(results);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["results"] = static_cast<double>(results);
}

void RecentPage(benchmark::State& state) {
    OverPartners(state, [](const HistoryStore& store, const std::string& partner) {
        return store.Recent(partner, Found).Entries.size();
    });
}
BENCHMARK(RecentPage)->UseRealTime()->Unit(benchmark::kMicrosecond);

void Search(benchmark::State& state, std::string text) {
    OverPartners(state, [&text](const HistoryStore& store, const std::string& partner) {
        return store.Search(partner, text, Found).size();
    });
}
// A word in one entry in fifty; a word of one entry (of partner 0 only, so
// the others find nothing); a prefix of many words; no entry at all.
BENCHMARK_CAPTURE(Search, common, bench::CommonWord)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Search, one, bench::EntryWord(50))->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Search, prefix, "mañana est")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Search, none, bench::AbsentWord)->UseRealTime()->Unit(benchmark::kMicrosecond);

void Append(benchmark::State& state) {
    const Files& files = TheFiles();
    const fs::path file = files.Folder / "append.db";
    auto opened = HistoryStore::Open(file);
    if (!opened.Store) {
        state.SkipWithError(opened.Detail.c_str());
        return;
    }
    StoredEntry entry;
    entry.Partner = bench::PartnerHandle(1);
    entry.Original = "Nos vemos mañana en la estación después del trabajo";
    entry.Translation = "See you tomorrow at the station after work";
    entry.Translated = true;
    for (auto _ : state) {
        if (!opened.Store->Append(entry)) {
            state.SkipWithError(opened.Store->LastError().c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(Append)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
