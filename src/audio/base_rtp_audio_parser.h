// Turns the RTP payloads of an audio stream into host audio frames.
//
// Threads: the channel's worker (EnableAudio), the RTSP client thread (the session's
// description) and the packet thread (the RTP queue thread, or the RTSP client thread for
// interleaved RTP) all reach the parser; one lock guards its state. Frames go to the client
// outside the lock, each with a copy of the format it was parsed with, so the host's callback
// never runs under a lock of ours and a set-up that races a delivery changes the next frame only.
//
// A stale stream: between sessions (Disarm, from the worker's enable until the description of
// the new session arms it) every payload is dropped; once armed, the first sender (SSRC) is
// kept, and another is taken only after the kept one has been silent for kSenderSilenceMs (a
// camera that restarted its stream), so an earlier session's stream that still reaches a
// reused port never mixes into the new one.
//
// Plain sample streams (G.711) are gathered until half a second of audio is buffered and then
// handed on as one frame. A-law (payload type 8, or "PCMA" in the description) is converted to
// mu-law on the way: the host knows only "711M", and A-law bytes labelled as mu-law would be
// noise.
//
// AAC comes in the RFC 3640 packetisation (mpeg4-generic): an AU-headers-length in bits, the AU
// headers (AU-size and AU-index or AU-index-delta, optional CTS and DTS deltas, lengths from the
// description's fmtp; AAC-hbr is 13/3/3), then the access units one after another:
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |  AU-headers-length (bits)     |  AU-size (13)           |index|
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |  AU-size (13)           |delta| ... padding to a whole byte   |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |  access unit 1 | access unit 2 | ...
//
// Every access unit of a packet becomes one frame. A unit larger than a packet comes in
// fragments, each packet with one AU header that gives the size of the whole unit; the
// fragments are gathered in the reassembly buffer (capacity: half a second of the nominal bit
// rate) and the unit goes out once complete. Leniency and its limits, decided on purpose:
//  - a sequence gap empties both buffers: half a unit from before the loss would be garbage;
//  - a unit announced larger than the reassembly capacity is dropped, with one message per ten
//    device time-outs at most;
//  - what the parser cannot take apart (no AU headers, a header section longer than the packet,
//    units beyond the packet's end, interleaved units) is dropped or delivered in packet order,
//    and said once per session at level 2.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "audio/audio_format.h"
#include "audio/audio_input_channel.h"

namespace vantrel {

class IDriver;

// The RFC 3640 AU header layout of an mpeg4-generic stream, from its fmtp line.
struct AuHeaderLayout {
  uint32_t sizeLength = 13;
  uint32_t indexLength = 3;
  uint32_t indexDeltaLength = 3;
  uint32_t ctsDeltaLength = 0;
  uint32_t dtsDeltaLength = 0;
};

class CBaseRTPAudioParser {
 public:
  static constexpr uint32_t kDefaultThreshold = 4000;
  static constexpr size_t kMaxDecoderConfig = 256;
  static constexpr uint8_t kPcmaPayloadType = 8;
  static constexpr uint8_t kUnknownPayloadType = 255;
  static constexpr uint64_t kSenderSilenceMs = 1000;
  // More AU headers than this in one packet is not a camera's stream.
  static constexpr size_t kMaxUnitsPerPacket = 512;

  // `driver` and `client` are borrowed: the channel that owns the parser, and its driver.
  CBaseRTPAudioParser(IDriver* driver, uint32_t channel, IAudioParserClient* client);
  virtual ~CBaseRTPAudioParser() = default;

  CBaseRTPAudioParser(const CBaseRTPAudioParser&) = delete;
  CBaseRTPAudioParser& operator=(const CBaseRTPAudioParser&) = delete;

  // Also sets the flush threshold to half a second (bit rate / 16) and arms the parser.
  void SetFormat(const AudioFormatBlock& format);
  AudioFormatBlock GetFormat() const;
  uint32_t GetThreshold() const;
  // The AudioSpecificConfig from the stream description; used when shorter than 256 bytes.
  void SetDecoderConfig(const std::vector<uint8_t>& config);
  void SetAuHeaderLayout(const AuHeaderLayout& layout);
  // G.711 samples arrive as A-law whatever the payload type says.
  void SetALaw(bool aLaw);
  // Drops every payload until the next SetFormat: the session it belonged to is gone.
  void Disarm();
  bool IsArmed() const;

  // A payload without its packet's payload type and sender (tests, fuzzing).
  void ProcessData(const uint8_t* payload, uint32_t size, uint16_t sequenceNumber);
  void ProcessPacket(const uint8_t* payload, uint32_t size, uint16_t sequenceNumber, uint8_t payloadType,
                     std::optional<uint32_t> ssrc);
  void Reset();

  size_t BufferedSamples() const;
  size_t BufferedAac() const;

 protected:
  // Milliseconds on a clock that never goes back; the overflow message is limited by it.
  virtual uint64_t NowMs() const;

 private:
  struct PendingFrame {
    std::vector<uint8_t> bytes;
  };
  struct Snapshot {
    AudioFormatBlock format;
    std::vector<uint8_t> decoderConfig;
    uint32_t generation = 0;
  };

  // All *Locked methods run under lock_.
  bool CheckSequenceLocked(uint16_t sequenceNumber);
  bool AcceptSenderLocked(std::optional<uint32_t> ssrc);
  void ResetLocked();
  void ParseAacLocked(const uint8_t* payload, size_t size, std::vector<PendingFrame>& out);
  void ReportOverflowLocked(size_t announced);
  void ReportUnhandledLocked(const char* what);
  // Outside the lock. False when the client refused the frame.
  bool ProcessAudioFrame(const uint8_t* bytes, size_t size, const Snapshot& snapshot);

  IDriver* const driver_;             // borrowed: outlives the channel
  IAudioParserClient* const client_;  // borrowed: the owning channel
  const uint32_t channel_;

  mutable std::mutex lock_;
  // Everything below is guarded by lock_.
  bool armed_ = true;
  uint32_t generation_ = 0;  // changes with every reset and set-up: a refusal resets only its own
  AudioFormatBlock format_{};
  uint32_t threshold_ = kDefaultThreshold;
  AuHeaderLayout layout_;
  bool aLaw_ = false;
  uint16_t lastSequence_ = 0;
  bool firstPacket_ = true;
  std::optional<uint32_t> sender_;
  uint64_t senderSeenMs_ = 0;
  std::vector<uint8_t> samples_;
  std::vector<uint8_t> aac_;  // a unit's fragments so far
  size_t aacExpected_ = 0;    // the whole unit's size while fragments are gathered
  std::vector<uint8_t> decoderConfig_;
  bool overflowLogged_ = false;
  uint64_t lastOverflowLogMs_ = 0;
  bool unhandledLogged_ = false;
};

// One A-law byte as the mu-law byte of (nearly) the same sample value.
uint8_t ALawToMuLaw(uint8_t aLaw);

// Now as a UTC SYSTEMTIME-compatible record, without the Windows API.
struct AudioCaptureTime {
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
AudioCaptureTime AudioCaptureTimeFromUnixMs(int64_t unixMs);

}  // namespace vantrel
