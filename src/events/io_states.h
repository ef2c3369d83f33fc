// The digital I/O state codes and how camera answers map onto them. Portable, so that the
// mapping is checked under the sanitizers and fuzzed.
#pragma once

#include <cstdint>

namespace vantrel {

enum IOState : uint32_t {
  kIOStateUnknown = 0,  // after start, stop or a failure
  kIOStateOff = 1,      // inactive input, relay off
  kIOStateOn = 2,       // active input, relay on
};

// An input flag read: nothing answered means unknown; 0 inactive; any other value active.
IOState InputStateFromFlag(bool answered, uint32_t value);

// The relay flag written for a requested output state: only "on" closes the relay, so a host
// that sends an unknown code opens it rather than leaving it in doubt.
uint32_t OutputFlagForState(uint32_t state);

// Whether the host may request this state for an output (unknown is the driver's own).
bool IsSettableOutputState(uint32_t state);

}  // namespace vantrel
