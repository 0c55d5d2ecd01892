#pragma once
// Frame pacing and the regeneration timer's decision. Pacing sleeps what is
// left of the frame interval since the previous frame, the measured time
// capped at 500 ms (so an interval above 500 ms always waits at least
// interval - 500). The clock and the sleep are injected for tests.

#include <cstdint>
#include <functional>

// Milliseconds of a monotonic clock.
int64_t SteadyClockMs();

class FramePacer {
public:
  using Clock = std::function<int64_t()>;
  using Sleeper = std::function<void(int64_t ms)>;
  static constexpr int64_t kElapsedCapMs = 500;

  FramePacer(Clock clock, Sleeper sleeper);
  // Waits for the interval (-1 or less: no pacing), then takes the frame's
  // time.
  void Pace(int32_t frameIntervalMs);
  int64_t LastFrameTick() const { return lastFrameTick_; }

private:
  Clock clock_;
  Sleeper sleeper_;
  int64_t lastFrameTick_;  // the last presented frame; now - 1000 at the start
};

// What the 10 ms one-shot does when it fires: it redraws only while no
// program runs (idle, ended, paused), and then presses Stop for a halt that
// was requested meanwhile.
struct RegenerateDecision {
  bool Redraw = false;
  bool Stop = false;
};
RegenerateDecision DecideRegeneration(uint8_t runState, bool haltRequested);
