// Fuzzes the masked gzip reader and the loader. The first input byte picks the
// request size for a direct pass over the reader; the rest is the file's
// content before masking (so the fuzzer works on gzip structure directly),
// masked and written to a file that both passes read.

#include "localise/TranslateInterface.h"
#include "localise/gzIO.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace velantro::localise;

const std::string& FilePath() {
    static const std::string path = [] {
        const std::filesystem::path shm = "/dev/shm";
        const auto folder =
            std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
        return (folder / ("velantro-fuzz-" + std::to_string(::getpid()) + ".dat")).string();
    }();
    static const bool removeAtExit = [] {
        return std::atexit([] { std::remove(FilePath().c_str()); }) == 0;
    }();
    (void)removeAtExit;
    return path;
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

void ReadDirectly(const std::string& path, unsigned chunk) {
    auto file = MaskedGzOpen(path, "r");
    Check(file != nullptr, "an existing file opens");
    std::vector<unsigned char> buffer(chunk);
    std::size_t total = 0;
    int got = 0;
    // The cap keeps a highly compressed input from running long.
    while (total < (std::size_t{16} << 20) &&
           (got = MaskedGzRead(file.get(), buffer.data(), chunk)) > 0) {
        Check(static_cast<unsigned>(got) <= chunk, "a read delivers no more than asked");
        total += static_cast<std::size_t>(got);
    }
    if (got <= 0) {
        // The end and errors are final.
        Check(MaskedGzRead(file.get(), buffer.data(), chunk) == got, "the end stays the end");
    }
    const int closed = MaskedGzClose(std::move(file));
    Check(got != 0 || closed == 0, "close after the end gives 0");
    Check(got >= 0 || closed < 0, "close after an error gives the error");
}

void Load(const std::string& path) {
    bool failedOnALine = false;
    try {
        LoadTranslations(path);
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        Check(message.starts_with("LoadTranslations:"), "the message's prefix");
        failedOnALine = message.find("over the limit") == std::string::npos;
    }
    const auto& table = Translations();
    for (std::size_t i = 0; i < table.size() && i < 64; ++i) {
        const auto found = FindTranslation(table[i].Key, table[i].Lang);
        Check(found >= 0 && static_cast<std::size_t>(found) <= i, "every entry is found");
        Check(table[found].Key == table[i].Key, "the entry found has the key");
    }
    Check(table.size() <= MaxTranslations, "the table stays within its limit");
    if (failedOnALine) {
        // The entries after the bad line are empty.
        Check(table.empty() || (table.back().Text.empty()), "a bad line leaves no text after it");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr unsigned Chunks[] = {1, 3, 4, 17, 512, 16383, 16384, 16385, 65536, 1u << 20};
    const unsigned chunk = Chunks[data[0] % std::size(Chunks)];
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    ApplyMask(bytes.data(), bytes.size(), 0);
    const std::string& path = FilePath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);

    ReadDirectly(path, chunk);
    Load(path);
    return 0;
}
