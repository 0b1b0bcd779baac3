#include <gtest/gtest.h>

#include "viewer/sources/U_Interfaces.h"

namespace ospry {
namespace {

// The smallest concrete source: only what the base leaves abstract.
class TBareSource final : public IQuernBasicSource {
public:
  using IQuernBasicSource::IQuernBasicSource;
  bool GetClipInfo(std::string&, std::string&, TDateTime&, TDateTime&) override { return false; }
  TDateTime GetPosition() override { return kNoTime; }
  bool VerifyFrames(TFrameError&) override { return true; }
};

TEST(BasicSource, StartsInvalidInactiveAndNamedByItsFile) {
  TBareSource source(2, "/clips/front door.qrn");
  EXPECT_EQ(source.GetSourceId(), 2);
  EXPECT_FALSE(source.IsValid());
  EXPECT_FALSE(source.IsActive());
  EXPECT_EQ(source.GetDescription(), "");
  EXPECT_EQ(source.GetFrameRate(), 0);
  EXPECT_EQ(source.GetDisplayName(), "/clips/front door.qrn");
  EXPECT_FALSE(source.CanAuthenticate());
  EXPECT_FALSE(source.CanPlayBackward());
  EXPECT_FALSE(source.HasFrameRateChoice());
}

TEST(BasicSource, DefaultInfoFillsTextsAndKeepsTimes) {
  TBareSource source(0, "x");
  TDvrInfo info;
  info.DvrName = "recorder";
  info.StartTime = 45000.25;
  info.EndTime = 45000.75;
  source.GetInfo(info);
  for (const std::string* text :
       {&info.DvrName, &info.ExtraText, &info.ChannelName, &info.UserName, &info.HostName})
    EXPECT_EQ(*text, "N/A");
  EXPECT_EQ(info.StartTime, 45000.25);
  EXPECT_EQ(info.EndTime, 45000.75);
}

TEST(BasicSource, DefaultSegmentsLeaveTheCallersArrayAlone) {
  TBareSource source(0, "x");
  TTimeSegments segments{{1.0, 2.0}};
  source.GetSegments(segments);
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0].End, 2.0);
}

}  // namespace
}  // namespace ospry
