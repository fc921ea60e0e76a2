// A temporary folder for a test, removed with everything in it afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace ktr::testing {

class TempDir {
public:
    TempDir() : path_((std::filesystem::temp_directory_path() / "ktrsvc-test-XXXXXX").string()) {
        if (!::mkdtemp(path_.data())) ADD_FAILURE() << "cannot make a temporary folder";
    }
    ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Whole contents of a file in the folder ("" when missing).
    std::string read(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void write(const std::string& name, const std::string& contents) const {
        std::ofstream(file(name), std::ios::binary) << contents;
    }

private:
    std::string path_;
    std::error_code ignored_;
};

} // namespace ktr::testing
