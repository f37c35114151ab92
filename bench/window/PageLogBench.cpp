// Appending entries to a conversation page: the cost of an entry should follow
// its own length (up to the cut), never the number of entries already there.
// Offscreen, at the page size of the design window.

#include "window/PageLog.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

using velantro::window::PageLog;

/// A page's log as the window makes it, shown, at the design's page size.
std::unique_ptr<QPlainTextEdit> Memo() {
    auto memo = std::make_unique<QPlainTextEdit>();
    memo->setReadOnly(true);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->resize(378, 150);
    memo->show();
    return memo;
}

/// Words of seven letters, as wrapping text of the given length.
std::u16string Entry(std::size_t length) {
    std::u16string text(length, u'w');
    for (std::size_t i = 7; i < length; i += 8) {
        text[i] = u' ';
    }
    return text;
}

void BM_AppendToAPageHolding(benchmark::State& state) {
    auto memo = Memo();
    PageLog log(memo.get());
    const velantro::core::LogEntry entry{u"10:00", "alice", Entry(100)};
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        log.AppendEntry(entry);
    }
    QCoreApplication::processEvents();
    for (auto _ : state) {
        log.AppendEntry(entry);
        QCoreApplication::processEvents();
    }
    state.counters["entries_before"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_AppendToAPageHolding)
    ->Arg(0)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);

void BM_AppendAnEntryOfLength(benchmark::State& state) {
    auto memo = Memo();
    PageLog log(memo.get());
    const velantro::core::LogEntry entry{u"10:00", "alice",
                                         Entry(static_cast<std::size_t>(state.range(0)))};
    for (auto _ : state) {
        log.AppendEntry(entry);
        QCoreApplication::processEvents();
        state.PauseTiming();
        memo->clear();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AppendAnEntryOfLength)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(65536)
    ->Arg(1000000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
