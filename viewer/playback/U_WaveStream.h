#pragma once
// TWaveStream: plays blocks of PCM audio on the default PulseAudio output.
//
// Each block written is copied into one of a ring of 32 block buffers and
// queued one write late: a write hands the block of the write before it to
// the server, so the newest block always waits for the next write. Close
// plays out what was queued (the block still held back is not played), then
// closes. The block buffers live as long as the stream and only grow when a
// block of another size arrives, so steady-state writes allocate nothing
// here; the server keeps its own copy of each queued block, so a buffer can be
// refilled at once.
//
// Failures: Open reports false when no server can be reached (within a few
// seconds) or the server refuses the format; later writes are then ignored.
// Results of queueing a block are not checked. Nothing throws.
//
// Threading: every operation may be called from any thread; Lock serialises
// them (a render throttle calls Write and Open under its own lock, which comes
// first). Each open connection runs one PulseAudio event thread
// ("ospry-pulse"); its callbacks only wake the waiting caller and never take
// Lock.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WaveOut.h"

namespace ospry {

class TPulseConnection;

class TWaveStream : public IWaveOutput {
public:
  static constexpr int kBlockCount = 32;

  // server names the PulseAudio server ("unix:/path/native"); empty means the
  // user's default server.
  explicit TWaveStream(std::string server = {});
  ~TWaveStream() override;  // Close
  TWaveStream(const TWaveStream&) = delete;
  TWaveStream& operator=(const TWaveStream&) = delete;

  // Closes first when open; then opens a playback stream for format (8-bit
  // unsigned or 16-bit signed little-endian PCM, 1 to 32 channels). False when
  // the server is missing or refuses the format.
  bool Open(const TWaveFormat& format) override;
  // Copies size bytes into the current block and queues the previous one.
  // Ignored while closed, for a null pointer or when size <= 0.
  void Write(const std::uint8_t* samples, std::int32_t size) override;
  // Plays out the queued blocks (not the held-back one), then closes.
  void Close() override;
  bool IsOpen() const override;

private:
  void CloseLocked();

  const std::string server_;
  mutable std::mutex lock_;
  std::unique_ptr<TPulseConnection> connection_;  // guarded by lock_
  bool opened_ = false;                           // guarded by lock_
  std::array<std::vector<std::uint8_t>, kBlockCount> buffers_;  // guarded by lock_
  int current_ = 0;                               // guarded by lock_
  int previous_ = 0;                              // guarded by lock_
  bool firstBlock_ = true;                        // guarded by lock_
};

// Makes wave streams on the default server for the playback engine.
TWaveOutputFactory MakeWaveStreamFactory();

}  // namespace ospry
