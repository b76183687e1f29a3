#include "app/logic/same_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace kelvor {
namespace {

// The save dialog must not let the output overwrite the input being read.
TEST(SameFile, RecognisesTheInputUnderAnyName) {
  const auto dir = test::TempDir();
  const auto input = dir / "film.ts";
  test::WriteFile(input, {0x47});
  std::filesystem::create_symlink(input, dir / "link.ts");

  EXPECT_TRUE(IsSameFile(input.string(), input.string()));
  EXPECT_TRUE(IsSameFile(input.string(), (dir / "." / "film.ts").string()));
  EXPECT_TRUE(IsSameFile(input.string(), (dir / "link.ts").string()));

  test::WriteFile(dir / "film.MPG", {0});
  EXPECT_FALSE(IsSameFile(input.string(), (dir / "film.MPG").string()));
  // An output that does not exist yet, and empty paths, are never the input.
  EXPECT_FALSE(IsSameFile(input.string(), (dir / "new.MPG").string()));
  EXPECT_FALSE(IsSameFile("", ""));
}

}  // namespace
}  // namespace kelvor
