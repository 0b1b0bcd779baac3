#include <gtest/gtest.h>

#include "viewer/sources/U_Timeline.h"

namespace ospry {
namespace {

std::vector<std::string> Names(const TTimeline& timeline) {
  std::vector<std::string> names;
  for (const auto& type : timeline.Types()) names.push_back(type.Name);
  return names;
}

TEST(Timeline, KeepsKindsByPriorityAndEqualPrioritiesInAddedOrder) {
  TTimeline timeline;
  EXPECT_TRUE(timeline.AddType("a5", 1, 2, 2, 5, 10, false));
  EXPECT_TRUE(timeline.AddType("b9", 1, 2, 2, 9, 10, false));
  EXPECT_TRUE(timeline.AddType("c5", 1, 2, 2, 5, 10, false));
  EXPECT_TRUE(timeline.AddType("d1", 1, 2, 2, 1, 10, false));
  EXPECT_EQ(Names(timeline), (std::vector<std::string>{"b9", "a5", "c5", "d1"}));
  EXPECT_EQ(timeline.IndexOf("c5"), 2);
  EXPECT_EQ(timeline.IndexOf("C5"), -1);
}

TEST(Timeline, RefusesADuplicateNameAndKeepsTheFirst) {
  TTimeline timeline;
  ASSERT_TRUE(timeline.AddType("Default", 0x112233, 0x445566, 2, 5, 10, false));
  EXPECT_FALSE(timeline.AddType("Default", 0, 0, 7, 9, 20, true));
  ASSERT_EQ(timeline.Types().size(), 1u);
  const TTimeType& kept = timeline.Types()[0];
  EXPECT_EQ(kept.FillColor, 0x112233u);
  EXPECT_EQ(kept.LineColor, 0x445566u);
  EXPECT_EQ(kept.Top, 2);
  EXPECT_EQ(kept.Bottom, 10);
  EXPECT_EQ(kept.Priority, 5);
}

TEST(Timeline, NegativeTopAndPriorityAreStoredAsZero) {
  TTimeline timeline;
  ASSERT_TRUE(timeline.AddType("x", 0, 0, -3, -7, 10, false));
  EXPECT_EQ(timeline.Types()[0].Top, 0);
  EXPECT_EQ(timeline.Types()[0].Priority, 0);
}

TEST(Timeline, SegmentsAreSetByNameAndClearedWithoutLosingKinds) {
  TTimeline timeline;
  timeline.AddType("Default", 7, 8, 2, 5, 10, false);
  const TTimeSegments segments{{100.0, 100.5}, {101.0, 101.25}};
  timeline.SetSegments("Missing", segments);
  EXPECT_TRUE(timeline.Types()[0].Segments.empty());
  timeline.SetSegments("Default", segments);
  ASSERT_EQ(timeline.Types()[0].Segments.size(), 2u);
  EXPECT_EQ(timeline.Types()[0].Segments[1].End, 101.25);

  timeline.ClearAllSegments();
  ASSERT_EQ(timeline.Types().size(), 1u);
  EXPECT_TRUE(timeline.Types()[0].Segments.empty());
  EXPECT_EQ(timeline.Types()[0].FillColor, 7u);
  timeline.Clear();
  EXPECT_TRUE(timeline.Types().empty());
}

}  // namespace
}  // namespace ospry
