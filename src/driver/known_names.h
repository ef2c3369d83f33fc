// Constant names the library fixes at load and other parts test for.
#pragma once

namespace vantrel {

// Device models that need special handling elsewhere (PTZ and stream set-up).
inline constexpr char kModelNBC255[] = "NBC-255";
inline constexpr char kModelNBC225[] = "NBC-225";
// The older preset file, read once to import presets.
inline constexpr char kLegacyPresetFileName[] = "BoschIP_PTZ.xml";

}  // namespace vantrel
