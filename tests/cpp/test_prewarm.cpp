// prewarm() takes the one-time work off the first parse: the shared
// tables, and faulting in the engine's own code and constants.

#include <gtest/gtest.h>

#include "document/prewarm.hpp"
#include "proc_maps.hpp"

using namespace kogane;

TEST(Prewarm, LeavesTheEngineCodeResident) {
    prewarm();
    prewarm();  // idempotent
    const proc::MappingFacts code = proc::mapping_of(reinterpret_cast<const void*>(&prewarm));
    if (code.size_kb < 0 || code.rss_kb < 0) GTEST_SKIP() << "no /proc/self/smaps here";
    EXPECT_NE(code.flags.find(" ex"), std::string::npos) << code.flags;
    EXPECT_EQ(code.rss_kb, code.size_kb);
}
