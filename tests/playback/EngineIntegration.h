#pragma once
// Sources for the engine's end-to-end tests: three clips played as a list,
// and a master and secondary pair with a gap of more than 10 s. Made as clip
// files with the writer and opened with the clip file source.
#include <memory>
#include <vector>

#include "viewer/sources/U_Interfaces.h"

namespace ospry::testing {

class TIntegrationClips {
public:
  virtual ~TIntegrationClips() = default;
  // One source per clip, in time order.
  virtual std::vector<IQuernVideoSource*> Sources() = 0;
  // First and last frame stamp of each clip.
  virtual const TTimeSegments& ClipRanges() = 0;
};

class TSyncPair {
public:
  virtual ~TSyncPair() = default;
  virtual IQuernVideoSource* Master() = 0;
  virtual IQuernVideoSource* Secondary() = 0;  // on another day, slightly out of step
  virtual TDateTime SeekTarget() = 0;          // a time in the master's first clip
  virtual TDateTime SeekTimeOfDay() = 0;
  virtual TDateTime AfterGapTimeOfDay() = 0;   // inside the clip after the gap
};

// Three clips of 0.6 s x speedFactor, so that each plays about 0.6 s of wall
// time at that speed, with gaps of 200 ms between them.
std::unique_ptr<TIntegrationClips> MakeIntegrationClips(double speedFactor);
std::unique_ptr<TSyncPair> MakeSyncPair();

}  // namespace ospry::testing
