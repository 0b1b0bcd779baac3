#include "viewer/sources/U_Interfaces.h"

namespace ospry {

void IQuernBasicSource::GetInfo(TDvrInfo& info) {
  info.DvrName = "N/A";
  info.ExtraText = "N/A";
  info.ChannelName = "N/A";
  info.UserName = "N/A";
  info.HostName = "N/A";
}

}  // namespace ospry
