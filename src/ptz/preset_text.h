// The small texts of the preset store: preset names chosen by the host and the slot numbers
// read back from the preset file, which a user may have edited by hand. Portable and fuzzed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// Not empty and none of & ! < > ' " (characters the older tools could not store).
bool IsValidPresetName(std::wstring_view name);

// A slot as the file stores it: decimal digits only, surrounding blanks allowed, at most
// 0xFFFFFFFF. Signs, hex, trailing text or overflow give nothing rather than a wrapped value.
std::optional<uint32_t> ParsePresetSlot(std::string_view text);

// Element names of the preset file: "PtzChannel01" for channel 0, "Preposition000" for
// position 0 (the numbers keep growing past their width rather than being cut).
std::string PresetChannelElement(uint32_t channel);
std::string PresetPositionElement(uint32_t position);

// The file name for a maker word and the host's device text (its MAC address): both cleaned
// of \ / : * ? " < > ! ' space and minus, joined by "_" and ending in ".preset". Empty when
// either is empty after cleaning.
std::string MakePresetFileName(std::string_view maker, std::string_view deviceText);

}  // namespace vantrel
