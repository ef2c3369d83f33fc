#include "events/io_states.h"

namespace vantrel {

IOState InputStateFromFlag(bool answered, uint32_t value) {
  if (!answered) return kIOStateUnknown;
  return value == 0 ? kIOStateOff : kIOStateOn;
}

uint32_t OutputFlagForState(uint32_t state) { return state == kIOStateOn ? 1u : 0u; }

bool IsSettableOutputState(uint32_t state) { return state == kIOStateOff || state == kIOStateOn; }

}  // namespace vantrel
