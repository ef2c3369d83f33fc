// H.264 depacketizer (RFC 6184): single NAL units, STAP-A and FU-A become Annex B access units
// (three-byte start codes) that open with an access unit delimiter, with the parameter sets put
// in front of IDR pictures and the picture size read from the SPS. A frame ends at the marker bit.
//
// FU-A, as this parser reads it:
//   +---------------+---------------+------------------
//   |F|NRI| Type=28 |S|E|R| Type    | fragment ...
//   +---------------+---------------+------------------
//     FU indicator     FU header
// The NAL header rebuilt from a start fragment is F|NRI of the indicator with the header's type.
//
// Cameras are trusted for nothing: a continuation fragment without a start fragment before it
// (the start was lost) fails the frame rather than gluing a headless fragment onto the last NAL
// unit; the frame then waits for the next key frame like any other loss.
#pragma once

#include <cstdint>

#include "streaming/rtp_media_parser.h"

namespace vantrel {

class IDriver;

class CH264RTPMediaParser : public CRTPMediaParser {
 public:
  // Payload type the cameras use for their metadata stream on the video session.
  static constexpr uint8_t kIgnoredPayloadType = 97;

  explicit CH264RTPMediaParser(IDriver* driver);

  void ProcessPacket(const CRTPPacket& packet) override;
  void Reset() override;
  void SetParameterSets(const std::vector<uint8_t>& sequenceParameterSet,
                        const std::vector<uint8_t>& pictureParameterSet,
                        const std::vector<uint8_t>& configuration) override;

  uint32_t GetWidth() const { return width_; }
  uint32_t GetHeight() const { return height_; }
  bool IsWaitingForKeyFrame() const { return waitForKeyFrame_; }

 private:
  bool Depacketize(const uint8_t* payload, size_t size);
  void HandleNalUnit(const uint8_t* nal, size_t size);
  void AppendNalUnit(const uint8_t* nal, size_t size);
  void InsertParameterSets();
  void ProcessFrame(uint32_t timestamp);
  void DiscardFrame();
  void ClearFrame();
  // Appends the delimiter (first unit of a frame) and a start code for a unit with this header.
  void BeginNalUnit(uint8_t nalHeader);
  void ApplyRequestedSizeIfUnknown();

  static constexpr size_t kNoSps = static_cast<size_t>(-1);

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  bool waitForKeyFrame_ = true;
  // A start fragment has been appended and its NAL unit not yet ended by another unit.
  bool inFragmentedUnit_ = false;
  // The fragmented unit being received is an SEI or delimiter, dropped fragment by fragment.
  bool skippingFragmentedUnit_ = false;
  // Offset of the first SPS NAL unit in the frame buffer, or kNoSps.
  size_t spsOffset_ = kNoSps;
};

}  // namespace vantrel
