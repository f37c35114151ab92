#pragma once

// A folder of one test's own under the system's temporary folder, emptied
// when the test starts and removed with it, whatever the test did to its
// permissions.

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace velantro::testing {

class ScratchFolder {
public:
    /// The folder prefix-<process id>-<test name>; not created.
    explicit ScratchFolder(const std::string& prefix)
        : Path(std::filesystem::temp_directory_path() /
               (prefix + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::remove_all(Path);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::permissions(Path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(Path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path Path;
};

/// A file's bytes.
inline std::string FileContents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace velantro::testing
