#include "foundation/sys_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

// The host build keeps the system tree inside the build directory, so nothing
// here needs root or touches the machine's own /var and /dev.
TEST(SysPaths, HostBuildRelocatesTheSystemTree) {
  std::string run = SysPaths::resolve(SysPaths::kRunDir);
  EXPECT_NE(run, "/var/run/");
  EXPECT_EQ(run.substr(run.size() - 9), "/var/run/");
  struct stat st;
  EXPECT_EQ(0, ::stat(run.c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}
