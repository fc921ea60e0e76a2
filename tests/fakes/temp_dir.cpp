#include "fakes/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace ktr::testing {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ktrsvc-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) ADD_FAILURE() << "cannot make a temporary folder";
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void TempDir::write(const std::string& name, const std::string& contents) const {
    std::ofstream out(file(name), std::ios::binary);
    out << contents;
}

} // namespace ktr::testing
