#include "foundation/tick_thread.h"

namespace vantrel {

void CTickThread::Tick() {
  // Periodic work is like queued work: one failing tick must not end the polling.
  try {
    OnTick();
  } catch (...) {
  }
}

void CTickThread::ThreadProc() {
  // Without a stop event every wait would fail at once and the ticks would spin.
  if (!GetStopEvent().GetHandle()) return;
  if (tickAtStart_) Tick();
  while (!GetStopEvent().Wait(periodMs_)) Tick();
}

}  // namespace vantrel
