// Loading an interface file with 4 MiB of text, beside zlib's own gzread of
// the same gzip data without the mask, in the same run. After the run it
// prints each reader's throughput as a fraction of gzread's.

#include "common/GzipMember.h"
#include "localise/TranslateInterface.h"
#include "localise/gzIO.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <zlib.h>

namespace {

using namespace velantro::localise;

constexpr std::size_t TextSize = std::size_t{4} << 20;

/// Table lines of varied keys, languages and texts, Cyrillic included, up to
/// TextSize bytes and no more lines than a loader takes entries.
std::string MakeText() {
    std::mt19937 random(20261207);
    const char* const words[] = {
        "Send",     "Receive", "in",   "to",      "\xC8\xE7\xEF\xF0\xE0\xF2\xE8",
        "Recibir",  "en",      "Pour", "Envoyer", "\xCF\xEE\xEB\xF3\xF7\xE0\xE2\xE0\xE9",
        "settings", "friend",  "chat", "window",  "\xED\xE0"};
    const int langs[] = {1, 5, 6, 2};
    std::string text;
    text.reserve(TextSize + 256);
    for (std::size_t lines = 0; text.size() < TextSize && lines < MaxTranslations; ++lines) {
        std::string line = "Form" + std::to_string(random() % 40) + ".Component" +
                           std::to_string(random() % 5000) + ";" +
                           std::to_string(langs[random() % 4]) + ";\"";
        const auto count = 1 + random() % 8;
        for (unsigned i = 0; i < count; ++i) {
            line += (i == 0 ? "" : " ");
            line += words[random() % std::size(words)];
        }
        line += "\"\r\n";
        text += line;
    }
    // Cut at a line end so that every line is whole.
    text.resize(text.rfind('\n', TextSize - 1) + 1);
    return text;
}

struct Files {
    std::filesystem::path Folder;
    std::string Plain;  // gzip, unmasked: for gzread
    std::string Masked; // the same bytes masked: an interface file
    std::size_t TextBytes = 0;

    Files() {
        Folder = std::filesystem::temp_directory_path() /
                 ("velantro-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(Folder);
        const std::string text = MakeText();
        TextBytes = text.size();
        std::string payload;
        for (int shift = 0; shift < 32; shift += 8) {
            payload += static_cast<char>(text.size() >> shift & 0xFF);
        }
        payload += text;
        std::string gzip = velantro::tools::GzipMember(payload);
        Plain = (Folder / "plain.gz").string();
        Masked = (Folder / "vlintf.dat").string();
        std::ofstream(Plain, std::ios::binary) << gzip;
        ApplyMask(gzip.data(), gzip.size(), 0);
        std::ofstream(Masked, std::ios::binary) << gzip;
    }
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    }
};

const Files& TheFiles() {
    static const Files files;
    return files;
}

std::int32_t CountFrom(const unsigned char* bytes) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24);
}

// Both readers do what the loader does: read Count, then Count bytes in one
// request, with a 16,384-byte input buffer.
void BM_ZlibGzread(benchmark::State& state) {
    const Files& files = TheFiles();
    std::string text;
    for (auto _ : state) {
        gzFile file = gzopen(files.Plain.c_str(), "rb");
        gzbuffer(file, static_cast<unsigned>(MaskedGzBufferSize));
        unsigned char count[4];
        gzread(file, count, 4);
        text.resize(static_cast<std::size_t>(CountFrom(count)));
        const int got = gzread(file, text.data(), static_cast<unsigned>(text.size()));
        gzclose(file);
        if (got != static_cast<int>(files.TextBytes)) {
            state.SkipWithError("gzread delivered the wrong number of bytes");
        }
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * files.TextBytes));
}

void BM_MaskedGzRead(benchmark::State& state) {
    const Files& files = TheFiles();
    std::string text;
    for (auto _ : state) {
        auto file = MaskedGzOpen(files.Masked, "r");
        unsigned char count[4];
        MaskedGzRead(file.get(), count, 4);
        text.resize(static_cast<std::size_t>(CountFrom(count)));
        const int got = MaskedGzRead(file.get(), text.data(), static_cast<unsigned>(text.size()));
        MaskedGzClose(std::move(file));
        if (got != static_cast<int>(files.TextBytes)) {
            state.SkipWithError("MaskedGzRead delivered the wrong number of bytes");
        }
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * files.TextBytes));
}

// The whole load: reading, line splitting and building the table.
void BM_LoadTranslations(benchmark::State& state) {
    const Files& files = TheFiles();
    for (auto _ : state) {
        LoadTranslations(files.Masked);
        benchmark::DoNotOptimize(Translations().data());
    }
    state.counters["entries"] = static_cast<double>(Translations().size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * files.TextBytes));
}

BENCHMARK(BM_ZlibGzread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskedGzRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadTranslations)->Unit(benchmark::kMillisecond);

/// Shows the usual console output and remembers each benchmark's real and CPU
/// time per iteration (the median when repetitions are asked for).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal.
    RatioReporter()
        : ConsoleReporter(::isatty(STDOUT_FILENO) != 0 ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const std::string& name = run.run_name.function_name;
            if (run.aggregate_name == "median" ||
                (run.aggregate_name.empty() && !Medians.contains(name))) {
                Times[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
                if (!run.aggregate_name.empty()) {
                    Medians[name] = true;
                }
            }
        }
    }

    void PrintRatios() const {
        const auto baseline = Times.find("BM_ZlibGzread");
        if (baseline == Times.end()) {
            return;
        }
        std::cout << "\nThroughput as a fraction of zlib gzread's (1.0 = as fast), by real "
                     "and by CPU time:\n";
        for (const auto& [name, time] : Times) {
            if (name != baseline->first) {
                std::cout << "  " << name << ": " << baseline->second.first / time.first
                          << " real, " << baseline->second.second / time.second << " CPU\n";
            }
        }
    }

private:
    std::map<std::string, std::pair<double, double>> Times; // real, CPU
    std::map<std::string, bool> Medians;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
