// Turns the RTP payloads of an audio stream into host audio frames. Used only on the thread
// that delivers the payloads (the RTP queue thread, or the RTSP client thread for interleaved
// RTP); Reset and SetFormat come from the channel's worker before the session starts.
//
// Plain sample streams (G.711) are gathered until half a second of audio is buffered and then
// handed on as one frame. AAC comes in the RFC 3640 packetisation with one 16-bit AU header per
// packet, which is what the cameras send:
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |   AU-headers-length = 16      |  AU-size (13 bits)      |index|
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |  access unit (AU-size bytes) ...
//
// Payloads are gathered in a reassembly buffer of bounded capacity and complete units are taken
// out. Leniency and its limits, decided on purpose:
//  - any other AU-headers-length cannot be taken out ever; the buffer is emptied instead of
//    staying blocked for good;
//  - a sequence gap empties both buffers: half a unit from before the loss would misalign every
//    unit after it;
//  - input beyond the capacity (half a second of the nominal bit rate) is dropped with one
//    message per ten device time-outs at most, and the unit that overflowed is dropped too, so
//    the next packet starts clean.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/audio_format.h"
#include "audio/audio_input_channel.h"

namespace vantrel {

class IDriver;

class CBaseRTPAudioParser {
 public:
  static constexpr uint32_t kDefaultThreshold = 4000;
  static constexpr size_t kMaxDecoderConfig = 256;
  static constexpr uint16_t kSingleAuHeaderBits = 16;
  static constexpr size_t kAuHeaderBytes = 4;  // AU-headers-length and one AU header

  // `driver` and `client` are borrowed: the channel that owns the parser, and its driver.
  CBaseRTPAudioParser(IDriver* driver, uint32_t channel, IAudioParserClient* client);
  virtual ~CBaseRTPAudioParser() = default;

  CBaseRTPAudioParser(const CBaseRTPAudioParser&) = delete;
  CBaseRTPAudioParser& operator=(const CBaseRTPAudioParser&) = delete;

  // Also sets the flush threshold to half a second (bit rate / 16).
  void SetFormat(const AudioFormatBlock& format);
  const AudioFormatBlock& GetFormat() const { return format_; }
  uint32_t GetThreshold() const { return threshold_; }
  // The AudioSpecificConfig from the stream description; used when shorter than 256 bytes.
  void SetDecoderConfig(const std::vector<uint8_t>& config) { decoderConfig_ = config; }

  void ProcessData(const uint8_t* payload, uint32_t size, uint16_t sequenceNumber);
  void Reset();

  size_t BufferedSamples() const { return samples_.size(); }
  size_t BufferedAac() const { return aac_.size(); }

 protected:
  void ParseACCData(const uint8_t* payload, size_t size);
  void ProcessAudioFrame(const uint8_t* bytes, size_t size);
  // Milliseconds on a clock that never goes back; the overflow message is limited by it.
  virtual uint64_t NowMs() const;

 private:
  bool CheckSequence(uint16_t sequenceNumber);
  uint32_t AacCapacity() const;
  // Takes every complete unit off the front; empties a buffer whose front can never complete.
  void TakeAccessUnits();
  void ReportOverflow();

  IDriver* const driver_;             // borrowed: outlives the channel
  IAudioParserClient* const client_;  // borrowed: the owning channel
  const uint32_t channel_;
  AudioFormatBlock format_{};
  uint32_t threshold_ = kDefaultThreshold;
  uint16_t lastSequence_ = 0;
  bool firstPacket_ = true;
  std::vector<uint8_t> samples_;
  std::vector<uint8_t> aac_;
  std::vector<uint8_t> decoderConfig_;
  uint32_t resets_ = 0;  // lets a loop over the buffer notice that a delivery emptied it
  bool overflowLogged_ = false;
  uint64_t lastOverflowLogMs_ = 0;
};

// Now as a UTC SYSTEMTIME-compatible record, without the Windows API.
struct AudioCaptureTime {
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
AudioCaptureTime AudioCaptureTimeFromUnixMs(int64_t unixMs);

}  // namespace vantrel
