// Reading the host's numbered text parameters. The host writes "(none)" for a property it does
// not know; that reads as absent. Integers are decimal with an optional sign and surrounding
// blanks; anything else (trailing units, hex, out of the 32-bit range) is not a number, so a
// setting never takes a half-parsed value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// The parameter's text, empty when absent or exactly "(none)".
std::string ParameterText(std::optional<std::string_view> raw);
// The text as a decimal integer, or kParameterMissing (0x80000000) when absent or not a number.
int32_t ParameterInt(std::optional<std::string_view> raw);

// An audio capability text "Count=%u; IsStereo=%u"; the blanks after the semicolon are
// optional. Both numbers must be present and fit 32 bits, else nothing is returned.
struct AudioCapability {
  uint32_t count = 0;
  bool stereo = false;
};
std::optional<AudioCapability> ParseAudioCapability(std::string_view text);

// What the audio step of Open has to do for parameters 101 (input) and 102 (output), each
// absent when the host gave no text.
struct AudioStepPlan {
  bool anyParameter = false;  // when false the step succeeds without creating anything
  uint32_t captureCount = 0;  // non-zero: create the audio capture object for this many channels
  uint32_t senderCount = 0;   // non-zero: create the audio sender object for this many channels
};
AudioStepPlan PlanAudioStep(const char* audioInput, const char* audioOutput);
// With a parameter given, the step succeeds only when a capture or a sender object exists.
inline bool AudioStepSucceeded(const AudioStepPlan& plan, bool haveCapture, bool haveSender) {
  return !plan.anyParameter || haveCapture || haveSender;
}

}  // namespace vantrel
