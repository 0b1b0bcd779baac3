#include "viewer/sources/U_Timeline.h"

#include <algorithm>

namespace ospry {

int TTimeline::IndexOf(const std::string& name) const {
  for (std::size_t i = 0; i < types_.size(); ++i)
    if (types_[i].Name == name) return static_cast<int>(i);
  return -1;
}

bool TTimeline::AddType(const std::string& name, std::uint32_t fillColor, std::uint32_t lineColor,
                        std::int32_t top, std::int32_t priority, std::int32_t bottom, bool flag) {
  if (IndexOf(name) >= 0) return false;
  TTimeType type;
  type.Name = name;
  type.FillColor = fillColor;
  type.LineColor = lineColor;
  type.Top = std::max(top, 0);
  type.Priority = std::max(priority, 0);
  type.Bottom = bottom;
  type.Flag = flag;
  // After every kind of greater or equal priority, so equal priorities keep
  // the order in which they were added.
  auto place = std::find_if(types_.begin(), types_.end(),
                            [&](const TTimeType& t) { return t.Priority < type.Priority; });
  types_.insert(place, std::move(type));
  return true;
}

void TTimeline::SetSegments(const std::string& name, const TTimeSegments& segments) {
  const int index = IndexOf(name);
  if (index >= 0) types_[static_cast<std::size_t>(index)].Segments = segments;
}

void TTimeline::ClearAllSegments() {
  for (auto& type : types_) type.Segments.clear();
}

void TTimeline::Clear() { types_.clear(); }

}  // namespace ospry
