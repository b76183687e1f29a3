#include "app/logic/dropped_input.h"

#include <gtest/gtest.h>

namespace kelvor {
namespace {

TEST(DroppedInput, RecordingsAreAcceptedByTheInputFiltersExtensions) {
  for (const char* path : {"/rec/film.ts", "/rec/film.TS", "/rec/film.m2ts", "/rec/film.MTS", "/rec/a.b.Tp",
                           R"(D:\rec\film.ts)", "film.mts"}) {
    EXPECT_TRUE(IsInputFileName(path)) << path;
  }
  for (const char* path : {"/rec/film.mpg", "/rec/film.ts.txt", "/rec/film", "/rec.ts/film", "/rec/.ts",
                           "/rec/film.", "/rec/", "", "/rec/film.tss", "/rec/filmts"}) {
    EXPECT_FALSE(IsInputFileName(path)) << path;
  }
}

TEST(DroppedInput, FirstRecordingOfTheDropIsOpened) {
  EXPECT_EQ(InputFromDrop({"/rec/film.ts"}), "/rec/film.ts");
  EXPECT_EQ(InputFromDrop({"/rec/notes.txt", "/rec/b.m2ts", "/rec/a.ts"}), "/rec/b.m2ts");
  EXPECT_EQ(InputFromDrop({"/rec/notes.txt", "/rec/film.mpg"}), std::nullopt);
  EXPECT_EQ(InputFromDrop({}), std::nullopt);
}

}  // namespace
}  // namespace kelvor
