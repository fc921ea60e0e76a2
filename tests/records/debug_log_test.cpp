#include <gtest/gtest.h>

#include "fakes/fake_clock.h"
#include "fakes/temp_dir.h"
#include "records/debug_log.h"

namespace ktr::records {
namespace {

TEST(DebugLog, WritesNothingWhileFileModeIsOff) {
    EXPECT_FALSE(debug_state().to_file);
}

} // namespace
} // namespace ktr::records
