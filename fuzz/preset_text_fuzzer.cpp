// Slot numbers and device texts come from files and host parameters a user may edit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ptz/preset_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto slot = vantrel::ParsePresetSlot(text)) {
    // Whatever parsed must print back to the same digits once blanks and leading zeros go.
    std::string digits(text);
    digits.erase(0, digits.find_first_not_of(" \t\r\n"));
    digits.erase(digits.find_last_not_of(" \t\r\n") + 1);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    if (std::to_string(*slot) != digits) abort();
  }
  const std::string name = vantrel::MakePresetFileName("Bosch", text);
  if (!name.empty() && name.find_first_of("\\/:*?\"<>!' -") != std::string::npos) abort();
  std::wstring wide(text.begin(), text.end());
  (void)vantrel::IsValidPresetName(wide);
  return 0;
}
