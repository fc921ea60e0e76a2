// The module's program-wide state saved before a test and put back after it: the options, the program
// folder and its registry hive (a temporary folder), the debug state (tracing to DebugFile.txt there), the
// report settings and the system event log, the pending error, the date conventions and the clock (a fake
// one that stands still until the test moves it).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/options.h"
#include "config/program.h"
#include "diag/error_report.h"
#include "fakes/fake_clock.h"
#include "fakes/private_registry.h"
#include "fakes/scoped_locale.h"
#include "fakes/trace_capture.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/pending_error.h"
#include "platform/registry_hive.h"

namespace ktr::testing {

class ModuleStateTest : public ::testing::Test {
protected:
    // 5 March 2026 09:07:03 local (the zone has no offset): its general date form is 19 characters.
    static constexpr double kMorning = 46086.0 + (9 * 3600 + 7 * 60 + 3) / 86400.0;
    static constexpr const char* kStamp = "03-05 09:07:03  ";

    ModuleStateTest() {
        platform::set_program_folder(dir_.path());
        platform::close_registry_hive();  // reopened in the temporary folder on first use
        config::options() = config::COptions{};
        platform::clear_pending_error();
    }
    ~ModuleStateTest() override {
        platform::set_event_recorder({});
        diag::report_settings() = saved_report_;
        config::program() = saved_program_;
        config::options() = saved_options_;
        platform::close_registry_hive();
        platform::set_program_folder({});
        platform::clear_pending_error();
    }

    std::string debug_text() const { return dir_.read("DebugFile.txt"); }
    bool traced(const std::string& fragment) const { return debug_text().find(fragment) != std::string::npos; }
    // What reaches the system event log goes to nt_events_ as "source|type|id|text".
    void record_nt_events() {
        platform::set_event_recorder([this](std::string_view source, int type, int32_t id, std::string_view text) {
            nt_events_.push_back(std::string(source) + "|" + std::to_string(type) + "|" + std::to_string(id) + "|" +
                                 std::string(text));
            return true;
        });
    }

    TempDir dir_;
    PrivateRegistry registry_{dir_.path().substr(dir_.path().find_last_of("/\\") + 1)};
    FakeClock clock_{kMorning};
    std::vector<std::string> nt_events_;

private:
    ScopedFakeClock scoped_clock_{clock_};
    ScopedLocale locale_{platform::us_locale()};
    ScopedEnv hive_{"KTRSVC_REGISTRY", nullptr};
    config::COptions saved_options_ = config::options();
    config::ProgramValues saved_program_ = config::program();
    diag::ReportSettings saved_report_ = diag::report_settings();
    ScopedTrace trace_{dir_.file("DebugFile.txt")};
};

} // namespace ktr::testing
