// A temporary folder for a test, removed with everything in it afterwards; and paths in the system's form.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "fakes/scoped_env.h"

namespace ktr::testing {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// A relative path written with "/" in the system's form, as the module joins its own paths.
inline std::string native_path(std::string path) {
    std::replace(path.begin(), path.end(), '/', kPathSeparator);
    return path;
}

class TempDir : NoCopy {
public:
    TempDir() : path_(make_unique_folder()) {
        if (path_.empty()) ADD_FAILURE() << "cannot make a temporary folder";
    }
    ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
    const std::string& path() const { return path_; }
    // A path in the folder; "a/b" names b in the subfolder a.
    std::string file(const std::string& name) const { return path_ + kPathSeparator + native_path(name); }
    std::string read(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void write(const std::string& name, const std::string& contents) const {
        std::ofstream(file(name), std::ios::binary) << contents;
    }

private:
    // A random name that nobody has made yet, under the user's temporary folder (Windows has no mkdtemp).
    static std::string make_unique_folder() {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        static std::mt19937_64 random(std::random_device{}() ^
                                      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
        for (int attempt = 0; attempt < 100 && !ec; ++attempt) {
            const std::filesystem::path dir = base / ("ktrsvc-test-" + std::to_string(random() % 1000000000));
            if (std::filesystem::create_directory(dir, ec)) return dir.string();
        }
        return {};
    }

    std::string path_;
    std::error_code ignored_;
};

} // namespace ktr::testing
