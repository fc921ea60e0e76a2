// A temporary folder for a test, removed with everything in it afterwards.
#pragma once

#include <string>

namespace ktr::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Whole contents of a file in the folder ("" when missing).
    std::string read(const std::string& name) const;
    void write(const std::string& name, const std::string& contents) const;

private:
    std::string path_;
};

} // namespace ktr::testing
