#pragma once
// The data behind the timeline bar: named kinds of time, each with its drawing
// attributes and the stretches of time it covers, kept in order of priority
// (highest first; kinds of equal priority in the order they were added).
//
// Threading: not thread-safe; the main thread owns and uses it.
#include <cstdint>
#include <string>
#include <vector>

#include "viewer/sources/U_Interfaces.h"

namespace ospry {

struct TTimeType {
  std::string Name;             // unique within a timeline
  std::uint32_t FillColor = 0;  // the band's body
  std::uint32_t LineColor = 0;  // the band's top and bottom edge lines
  std::int32_t Bottom = 0;      // lower edge, pixels from the top of the bar
  std::int32_t Top = 0;         // upper edge, pixels from the top of the bar
  std::int32_t Priority = 0;    // sort key, highest first
  bool Flag = false;            // stored only
  TTimeSegments Segments;       // in time order
};

class TTimeline {
public:
  // Index of the kind named name (exact comparison), or -1.
  int IndexOf(const std::string& name) const;
  // False, with nothing changed, when a kind of that name exists. Negative top
  // or priority values are stored as 0.
  bool AddType(const std::string& name, std::uint32_t fillColor, std::uint32_t lineColor,
               std::int32_t top, std::int32_t priority, std::int32_t bottom, bool flag);
  // Replaces the segments of the named kind; an unknown name changes nothing.
  void SetSegments(const std::string& name, const TTimeSegments& segments);
  // Empties the segments of every kind; the kinds stay.
  void ClearAllSegments();
  // Removes every kind.
  void Clear();
  const std::vector<TTimeType>& Types() const { return types_; }

private:
  std::vector<TTimeType> types_;
};

}  // namespace ospry
