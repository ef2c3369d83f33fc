// Drives the three frame builders with arbitrary operation sequences and arguments: no
// sequence may read or write outside a frame, and every frame keeps its protocol's shape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ptz/ptz_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t protocol = 1 + data[0] % 3;
  const uint16_t line = static_cast<uint16_t>(data[1] << 8 | data[2]);
  auto builder = vantrel::CreatePTZCommand(protocol, line);
  if (!builder) abort();
  for (size_t i = 3; i + 2 < size; i += 3) {
    const uint8_t op = data[i] % 20;
    const uint8_t a = data[i + 1];
    const uint16_t p = static_cast<uint16_t>(data[i + 1] << 8 | data[i + 2]);
    const bool dir = data[i + 2] & 1;
    switch (op) {
      case 0:
        builder->Pan(dir, a);
        break;
      case 1:
        builder->Tilt(dir, a);
        break;
      case 2:
        builder->Zoom(dir, a);
        break;
      case 3:
        builder->Iris(dir, a);
        break;
      case 4:
        builder->Focus(dir, a);
        break;
      case 5:
        builder->Stop(a);
        break;
      case 6:
        builder->StorePreset(p);
        break;
      case 7:
        builder->GoToPreset(p);
        break;
      case 8:
        builder->ClearPreset(p);
        break;
      case 9:
        builder->SetAutoFocusMode(a);
        break;
      case 10:
        builder->SetAutoIrisMode(a);
        break;
      case 11:
        builder->SetZoomSpeed(a);
        break;
      case 12:
        builder->SetFocusSpeed(a);
        break;
      case 13:
        builder->Reset();
        break;
      default: {
        const auto bytes = builder->GetBytes();
        if (builder->GetText().size() != bytes.size() * 2) abort();
        if (protocol == 1 && (bytes.size() != 7 || bytes[0] != 0xFF)) abort();
        if (protocol == 2) {
          // Every OSRD byte after the first is 7-bit, the checksum included.
          for (size_t k = 1; k < bytes.size(); ++k)
            if (bytes[k] & 0x80) abort();
        }
        break;
      }
    }
  }
  return 0;
}
