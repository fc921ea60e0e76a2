// Shared set-up for the records tests: a temporary program folder, a fixed clock and locale, the
// program-wide options and debug state restored afterwards, and the debug log captured to a file.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "config/options.h"
#include "diag/debug_log.h"
#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "fakes/temp_dir.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/pending_error.h"
#include "platform/registry_hive.h"

namespace ktr::testing {

class RecordsTest : public ::testing::Test {
protected:
    // 5 March 2026 09:07:03 local (the zone has no offset): its general date form is 19 characters.
    static constexpr double kMorning = 46086.0 + (9 * 3600 + 7 * 60 + 3) / 86400.0;
    static constexpr const char* kStamp = "03-05 09:07:03  ";

    RecordsTest() : clock_(kMorning), scoped_(clock_), locale_(platform::us_locale()) {}

    void SetUp() override {
        saved_options_ = config::options();
        saved_folder_ = platform::program_folder();
        saved_debug_ = diag::debug_state();
        platform::set_program_folder(dir_.path());
        platform::close_registry_hive();  // reopened in the temporary folder on first use
        config::options() = config::COptions{};
        diag::debug_state() = {true, true, dir_.file("DebugFile.txt")};
        diag::set_debug_file_mode(true);
        platform::clear_pending_error();
    }

    void TearDown() override {
        diag::set_debug_file_mode(false);
        diag::debug_state() = saved_debug_;
        config::options() = saved_options_;
        platform::close_registry_hive();
        platform::set_program_folder(saved_folder_);
        platform::clear_pending_error();
    }

    std::string debug_text() const { return dir_.read("DebugFile.txt"); }
    bool traced(const std::string& fragment) const { return debug_text().find(fragment) != std::string::npos; }

    TempDir dir_;
    FakeClock clock_;
    ScopedFakeClock scoped_;
    ScopedLocale locale_;

private:
    config::COptions saved_options_;
    std::string saved_folder_;
    diag::DebugState saved_debug_;
};

} // namespace ktr::testing
