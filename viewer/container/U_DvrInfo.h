#pragma once
// The recorder description kept in a clip index: who recorded what, where and
// when. On disk it is a 216-byte record of length-prefixed texts and two
// date-times; in memory the texts are plain strings.
#include <string>

#include "platform/DateTime.h"

namespace ospry {

struct TDvrInfo {
  std::string DvrName;      // the recorder's name
  std::string ExtraText;    // never shown
  std::string ChannelName;  // the camera channel's name
  std::string UserName;     // who exported the clip
  std::string HostName;     // the recorder's network address; never shown
  TDateTime StartTime = 0;
  TDateTime EndTime = 0;
};

}  // namespace ospry
