// The camera-side encoder tables a channel uses to set up its stream: resolution codes for
// H.264/MPEG-4 and Motion JPEG, the quantizer and bit rate for a host quality, and the choice of
// an encoder profile pair from the list a camera advertises (host parameter 7).
//
// Pure functions over host-supplied values, no platform code: the parsers here read host
// parameter texts and must cope with anything in them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {

// Frames per second from the host's frame-rate code: 0 is 1 fps, 0x7nnn carries nnn fps, any
// other value is the time between frames in milliseconds. Never 0.
uint32_t FramesPerSecond(uint32_t frameRateCode);

// Camera resolution code of an H.264 or MPEG-4 encoder for a requested size; none when the
// camera has no code for that size.
std::optional<uint32_t> ResolutionCode(uint32_t width, uint32_t height, bool mpeg4);

// Quantizer sent for a host quality (0 to 100): 31 for the worst picture, 4 for the best.
uint32_t QuantizerForQuality(uint32_t quality);

enum class BitrateClass { kSD, kHD, kFHD, kUHD };

BitrateClass BitrateClassForSize(uint32_t width, uint32_t height);
// Lowest bit rate (kbit/s) a class is ever given.
uint32_t MinimumBitrate(BitrateClass bitrateClass);
// Bit rate between the class minimum and the configured maximum, by quality.
uint32_t BandwidthForQuality(BitrateClass bitrateClass, uint32_t maximum, uint32_t quality);

using ProfilePair = std::pair<uint8_t, uint8_t>;

// The encoder mode pairs a camera supports, as host parameter 7 lists them ("4,3:6,3:6,4").
class CEncoderProfileList {
 public:
  // Pieces that do not read as two numbers of at most two digits are skipped.
  static CEncoderProfileList Parse(const std::string& text);

  bool Empty() const { return pairs_.empty(); }
  bool Contains(ProfilePair pair) const;
  const std::vector<ProfilePair>& Pairs() const { return pairs_; }
  bool HasZeroFirst() const { return zeroFirst_; }
  bool HasZeroSecond() const { return zeroSecond_; }

 private:
  std::vector<ProfilePair> pairs_;
  bool zeroFirst_ = false;
  bool zeroSecond_ = false;
};

// Encoder codes that can serve a requested size, best first.
std::vector<uint8_t> ProfileCandidates(uint32_t width, uint32_t height);

// The pair to put on the camera for a stream: the recording stream (index 0) picks the first
// value, the others the second; the current pair stays when nothing fits.
ProfilePair ChooseProfile(const CEncoderProfileList& profiles, ProfilePair current, uint32_t streamIndex,
                          uint32_t width, uint32_t height);

// Whether an encoder code needs the stream's resolution written after it is selected.
bool ProfileNeedsResolution(uint8_t code);

// Motion JPEG resolution codes the host knows better than our table (host parameter 10:
// "code:WxH" entries separated by ";").
using JpegResolutionMap = std::map<std::pair<uint32_t, uint32_t>, uint32_t>;
JpegResolutionMap ParseJpegResolutions(const std::string& text);

// The Motion JPEG resolution code whose picture is exactly this size; none when no code is.
std::optional<uint32_t> JpegExactResolutionCode(uint32_t width, uint32_t height);

uint32_t JpegResolutionCode(uint32_t width, uint32_t height, uint8_t encoderMode, uint32_t cameraGroup,
                            const JpegResolutionMap& map);

}  // namespace vantrel
