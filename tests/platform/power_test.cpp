#include <gtest/gtest.h>

#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "platform/files.h"
#include "platform/power.h"
#include "platform/system.h"

namespace ktr::platform {
namespace {

TEST(PowerSteps, TheShutdownPrivilegeIsEitherHeldOrNotAllAssigned) {
    TokenHandle token = 0;
    Luid luid;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), kTokenQuery | kTokenAdjustPrivileges, token));
    ASSERT_TRUE(LookupPrivilegeValueA("", "SeShutdownPrivilege", luid));
    ASSERT_TRUE(AdjustTokenPrivileges(token, false, TokenPrivileges{1, luid, kPrivilegeEnabled}, 16, nullptr, nullptr));
    EXPECT_TRUE(GetLastError() == kErrorSuccess || GetLastError() == kErrorNotAllAssigned) << GetLastError();
}

TEST(PowerRequests, SimulatedRequestsAreOnlyRecorded) {
    testing::ScopedEnv simulate("KTRSVC_SIMULATE", "clock,power");
    testing::TempDir home;
    const std::string folder = program_folder();
    set_program_folder(home.path());

    SetLastError(99);
    EXPECT_NE(ExitWindowsEx(kExitShutdown | kExitForce, 0xFFFFFFFFu), 0);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_NE(ExitWindowsEx(kExitReboot, 0), 0);
    const std::string recorded = home.read(kPowerActionsFile);
    EXPECT_NE(recorded.find("Flags: 5 (Shutdown, forced), reason: 4294967295\n"), std::string::npos) << recorded;
    EXPECT_NE(recorded.find("Flags: 2 (Reboot), reason: 0\n"), std::string::npos) << recorded;

    set_program_folder(folder);
}

} // namespace
} // namespace ktr::platform
