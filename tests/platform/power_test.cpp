#include <gtest/gtest.h>

#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "platform/files.h"
#include "platform/power.h"
#include "platform/system.h"

namespace ktr::platform {
namespace {

TEST(PowerSteps, KnowOnlyTheShutdownPrivilegeAndKeepTheLastError) {
    SetLastError(0);
    TokenHandle token = 0;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), kTokenQuery | kTokenAdjustPrivileges, token));
    EXPECT_FALSE(OpenProcessToken(12345, kTokenQuery, token));
    EXPECT_EQ(GetLastError(), 6u);

    Luid luid;
    SetLastError(0);
    ASSERT_TRUE(LookupPrivilegeValueA("", "SeShutdownPrivilege", luid));
    EXPECT_EQ(GetLastError(), 0u);
    Luid other;
    EXPECT_FALSE(LookupPrivilegeValueA("", "SeTimeZonePrivilege", other));
    EXPECT_EQ(GetLastError(), kErrorNoSuchPrivilege);

    TokenPrivileges set{1, luid, kPrivilegeEnabled};
    ASSERT_TRUE(AdjustTokenPrivileges(token, false, set, 16, nullptr, nullptr));
    // Either held (0) or not all assigned: never anything else.
    EXPECT_TRUE(GetLastError() == kErrorSuccess || GetLastError() == kErrorNotAllAssigned) << GetLastError();
    EXPECT_EQ(GetVersion() & 0x80000000u, 0u);
}

TEST(PowerRequests, DescribeTheStrongestAction) {
    for (const auto& [flags, text] : std::vector<std::pair<uint32_t, std::string>>{
             {0, "Logoff"}, {4, "Logoff, forced"}, {1, "Shutdown"}, {6, "Reboot, forced"}, {9, "Power-off"},
             {15, "Power-off, forced"}})
        EXPECT_EQ(describe_power_request(flags), text) << flags;
}

TEST(PowerRequests, SimulatedRequestsAreOnlyRecorded) {
    testing::ScopedEnv simulate("KTRSVC_SIMULATE", "clock,power");
    ASSERT_TRUE(simulating("power"));
    testing::TempDir home;
    const std::string folder = program_folder();
    set_program_folder(home.path());

    SetLastError(99);
    EXPECT_NE(ExitWindowsEx(kExitShutdown | kExitForce, 0xFFFFFFFFu), 0);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_NE(ExitWindowsEx(kExitLogoff, 0xFFFFFFFFu), 0);
    const std::string recorded = home.read(kPowerActionsFile);
    EXPECT_NE(recorded.find("Flags: 5 (Shutdown, forced), reason: 4294967295\n"), std::string::npos) << recorded;
    EXPECT_NE(recorded.find("Flags: 0 (Logoff)"), std::string::npos) << recorded;

    set_program_folder(folder);
}

} // namespace
} // namespace ktr::platform
