#include "graphics/FramePacer.h"

#include <algorithm>
#include <chrono>

#include "core/Trans.h"

int64_t SteadyClockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

FramePacer::FramePacer(Clock clock, Sleeper sleeper)
    : clock_(std::move(clock)), sleeper_(std::move(sleeper)), lastFrameTick_(clock_() - 1000) {}

void FramePacer::Pace(int32_t frameIntervalMs) {
  const int64_t elapsed = std::min(clock_() - lastFrameTick_, kElapsedCapMs);
  if (elapsed < frameIntervalMs) sleeper_(frameIntervalMs - elapsed);
  lastFrameTick_ = clock_();
}

RegenerateDecision DecideRegeneration(uint8_t runState, bool haltRequested) {
  RegenerateDecision decision;
  decision.Redraw = runState == rsIdle || runState == rsEnded || runState == rsPaused;
  decision.Stop = decision.Redraw && haltRequested;
  return decision;
}
