// velantro-history-fill FILE ENTRIES PARTNERS: adds ENTRIES made-up entries
// over PARTNERS partners to the history file FILE (made when absent), each
// through the history store as the program stores them, for measuring the
// program's start with a long history.

#include "HistoryFill.h"
#include "common/IntegerText.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    using namespace velantro;
    const auto entries = argc == 4 ? common::ReadDecimal(argv[2]) : std::nullopt;
    const auto partners = argc == 4 ? common::ReadDecimal(argv[3]) : std::nullopt;
    if (!entries || !partners || *entries < 0 || *partners < 1) {
        std::fprintf(stderr, "usage: velantro-history-fill FILE ENTRIES PARTNERS\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    auto opened = history::HistoryStore::Open(argv[1]);
    if (!opened.Store) {
        std::fprintf(stderr, "velantro-history-fill: %s\n", opened.Detail.c_str());
        return 1;
    }
    if (!history::bench::Fill(*opened.Store, static_cast<std::size_t>(*entries),
                              static_cast<std::size_t>(*partners))) {
        std::fprintf(stderr, "velantro-history-fill: %s: %s\n", argv[1],
                     opened.Store->LastError().c_str());
        return 1;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%d entries over %d partners added to %s in %.1f s\n", *entries, *partners, argv[1],
                took.count());
    return 0;
}
