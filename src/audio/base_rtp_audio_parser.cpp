#include "audio/base_rtp_audio_parser.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "core/driver_services.h"
#include "vantrel/ipcapture/audio_types.h"
#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {

namespace {

constexpr const char* kParseACCData = "vantrel::CBaseRTPAudioParser::ParseACCData";
constexpr const char* kProcessPacket = "vantrel::CBaseRTPAudioParser::ProcessPacket";
constexpr const char* kProcessAudioFrame = "vantrel::CBaseRTPAudioParser::ProcessAudioFrame";

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// Reads big-endian bit fields of up to 32 bits; a read past the end gives nothing.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t bits) : data_(data), bits_(bits) {}
  size_t Left() const { return bits_ - pos_; }
  std::optional<uint32_t> Read(uint32_t count) {
    if (count > 32 || count > Left()) return std::nullopt;
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; ++i, ++pos_)
      value = (value << 1) | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
    return value;
  }

 private:
  const uint8_t* const data_;
  const size_t bits_;
  size_t pos_ = 0;
};

// ITU-T G.711 A-law to a linear sample (13 significant bits, scaled to 16).
int ALawToLinear(uint8_t a) {
  a ^= 0x55;
  int t = (a & 0x0F) << 4;
  const int segment = (a & 0x70) >> 4;
  if (segment == 0) {
    t += 8;
  } else {
    t += 0x108;
    if (segment > 1) t <<= segment - 1;
  }
  return (a & 0x80) ? t : -t;
}

// ITU-T G.711 mu-law of a linear 16-bit sample.
uint8_t LinearToMuLaw(int sample) {
  constexpr int kBias = 0x84;
  constexpr int kClip = 32635;
  const int sign = sample < 0 ? 0x80 : 0;
  if (sample < 0) sample = -sample;
  if (sample > kClip) sample = kClip;
  sample += kBias;
  int exponent = 7;
  for (int mask = 0x4000; (sample & mask) == 0 && exponent > 0; --exponent, mask >>= 1) {
  }
  const int mantissa = (sample >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

struct ALawTable {
  uint8_t muLaw[256];
  ALawTable() {
    for (int i = 0; i < 256; ++i) muLaw[i] = LinearToMuLaw(ALawToLinear(static_cast<uint8_t>(i)));
  }
};

}  // namespace

uint8_t ALawToMuLaw(uint8_t aLaw) {
  static const ALawTable table;
  return table.muLaw[aLaw];
}

AudioCaptureTime AudioCaptureTimeFromUnixMs(int64_t unixMs) {
  const int64_t msPerDay = 86400000;
  int64_t days = unixMs / msPerDay;
  int64_t rest = unixMs % msPerDay;
  if (rest < 0) {
    rest += msPerDay;
    --days;
  }
  // Civil date from days since 1970-01-01 (proleptic Gregorian), era-based without tables.
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  AudioCaptureTime t{};
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(month);
  t.day = static_cast<uint16_t>(day);
  t.dayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
  t.hour = static_cast<uint16_t>(rest / 3600000);
  t.minute = static_cast<uint16_t>(rest / 60000 % 60);
  t.second = static_cast<uint16_t>(rest / 1000 % 60);
  t.milliseconds = static_cast<uint16_t>(rest % 1000);
  return t;
}

CBaseRTPAudioParser::CBaseRTPAudioParser(IDriver* driver, uint32_t channel, IAudioParserClient* client)
    : driver_(driver), client_(client), channel_(channel) {}

void CBaseRTPAudioParser::SetFormat(const AudioFormatBlock& format) {
  std::lock_guard<std::mutex> guard(lock_);
  format_ = format;
  threshold_ = format.bitRate / 16;
  // A zero rate would flush every payload on its own and give AAC no room at all.
  if (threshold_ == 0) threshold_ = kDefaultThreshold;
  armed_ = true;
  sender_.reset();
  unhandledLogged_ = false;
  ResetLocked();
}

AudioFormatBlock CBaseRTPAudioParser::GetFormat() const {
  std::lock_guard<std::mutex> guard(lock_);
  return format_;
}

uint32_t CBaseRTPAudioParser::GetThreshold() const {
  std::lock_guard<std::mutex> guard(lock_);
  return threshold_;
}

void CBaseRTPAudioParser::SetDecoderConfig(const std::vector<uint8_t>& config) {
  std::lock_guard<std::mutex> guard(lock_);
  decoderConfig_ = config;
  ++generation_;
}

void CBaseRTPAudioParser::SetAuHeaderLayout(const AuHeaderLayout& layout) {
  std::lock_guard<std::mutex> guard(lock_);
  layout_ = layout;
  ResetLocked();
}

void CBaseRTPAudioParser::SetALaw(bool aLaw) {
  std::lock_guard<std::mutex> guard(lock_);
  aLaw_ = aLaw;
  ResetLocked();
}

void CBaseRTPAudioParser::Disarm() {
  std::lock_guard<std::mutex> guard(lock_);
  armed_ = false;
  sender_.reset();
  ResetLocked();
}

bool CBaseRTPAudioParser::IsArmed() const {
  std::lock_guard<std::mutex> guard(lock_);
  return armed_;
}

void CBaseRTPAudioParser::Reset() {
  std::lock_guard<std::mutex> guard(lock_);
  ResetLocked();
}

void CBaseRTPAudioParser::ResetLocked() {
  ++generation_;
  firstPacket_ = true;
  samples_.clear();
  aac_.clear();
  aacExpected_ = 0;
}

size_t CBaseRTPAudioParser::BufferedSamples() const {
  std::lock_guard<std::mutex> guard(lock_);
  return samples_.size();
}

size_t CBaseRTPAudioParser::BufferedAac() const {
  std::lock_guard<std::mutex> guard(lock_);
  return aac_.size();
}

uint64_t CBaseRTPAudioParser::NowMs() const {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool CBaseRTPAudioParser::CheckSequenceLocked(uint16_t sequenceNumber) {
  const bool inOrder = firstPacket_ || sequenceNumber == static_cast<uint16_t>(lastSequence_ + 1);
  lastSequence_ = sequenceNumber;
  firstPacket_ = false;
  return inOrder;
}

bool CBaseRTPAudioParser::AcceptSenderLocked(std::optional<uint32_t> ssrc) {
  if (!ssrc) return true;
  const uint64_t now = NowMs();
  if (!sender_ || *sender_ == *ssrc) {
    sender_ = ssrc;
    senderSeenMs_ = now;
    return true;
  }
  if (now - senderSeenMs_ < kSenderSilenceMs) return false;
  // The kept sender went quiet and this one goes on: the camera restarted its stream.
  sender_ = ssrc;
  senderSeenMs_ = now;
  ResetLocked();
  return true;
}

void CBaseRTPAudioParser::ProcessData(const uint8_t* payload, uint32_t size, uint16_t sequenceNumber) {
  ProcessPacket(payload, size, sequenceNumber, kUnknownPayloadType, std::nullopt);
}

void CBaseRTPAudioParser::ProcessPacket(const uint8_t* payload, uint32_t size, uint16_t sequenceNumber,
                                        uint8_t payloadType, std::optional<uint32_t> ssrc) {
  std::vector<PendingFrame> frames;
  Snapshot snapshot;
  try {
    std::lock_guard<std::mutex> guard(lock_);
    if (!armed_ || !AcceptSenderLocked(ssrc)) return;
    if (!CheckSequenceLocked(sequenceNumber)) ResetLocked();
    if (!payload) return;
    snapshot.format = format_;
    snapshot.generation = generation_;
    if (format_.tag == kAudioTagAac) {
      if (!decoderConfig_.empty() && decoderConfig_.size() < kMaxDecoderConfig)
        snapshot.decoderConfig = decoderConfig_;
      ParseAacLocked(payload, size, frames);
    } else {
      if (size < 2) return;
      const size_t at = samples_.size();
      samples_.insert(samples_.end(), payload, payload + size);
      if (aLaw_ || payloadType == kPcmaPayloadType) {
        for (size_t i = at; i < samples_.size(); ++i) samples_[i] = ALawToMuLaw(samples_[i]);
      }
      if (samples_.size() >= threshold_) {
        frames.emplace_back();
        frames.back().bytes.swap(samples_);
      }
    }
  } catch (...) {
    // A failed allocation ends this payload only.
    return;
  }
  // Outside the lock: the client hands each frame to the host.
  for (const PendingFrame& frame : frames) {
    if (ProcessAudioFrame(frame.bytes.data(), frame.bytes.size(), snapshot)) continue;
    // A refused frame resets the parser, and the units behind it in this payload go with it;
    // a set-up that came meanwhile has already started afresh.
    std::lock_guard<std::mutex> guard(lock_);
    if (generation_ == snapshot.generation) ResetLocked();
    break;
  }
}

void CBaseRTPAudioParser::ParseAacLocked(const uint8_t* payload, size_t size,
                                         std::vector<PendingFrame>& out) {
  const size_t capacity = threshold_;
  const auto dropFragments = [this] {
    aac_.clear();
    aacExpected_ = 0;
  };
  if (size < 2) {
    dropFragments();
    ReportUnhandledLocked("a packet shorter than its AU-headers-length");
    return;
  }
  const uint16_t headerBits = ReadU16(payload);
  const size_t headerBytes = (size_t{headerBits} + 7) / 8;
  if (headerBits == 0 || layout_.sizeLength == 0) {
    dropFragments();
    ReportUnhandledLocked("no AU headers (constant-size units)");
    return;
  }
  if (2 + headerBytes > size) {
    dropFragments();
    ReportUnhandledLocked("an AU header section longer than the packet");
    return;
  }
  std::vector<size_t> units;
  bool interleaved = false;
  BitReader bits(payload + 2, headerBits);
  while (bits.Left() > 0) {
    const auto unitSize = bits.Read(layout_.sizeLength);
    const auto index = bits.Read(units.empty() ? layout_.indexLength : layout_.indexDeltaLength);
    if (!unitSize || !index) break;
    bool ok = true;
    for (uint32_t deltaLength : {layout_.ctsDeltaLength, layout_.dtsDeltaLength}) {
      if (deltaLength == 0) continue;
      const auto flag = bits.Read(1);
      ok = flag && (*flag == 0 || bits.Read(deltaLength));
      if (!ok) break;
    }
    if (!ok) break;
    // The first unit's index is the camera's own count; a delta other than zero means the
    // units are not in decoding order.
    if (!units.empty() && *index != 0) interleaved = true;
    units.push_back(*unitSize);
    if (units.size() > kMaxUnitsPerPacket) {
      dropFragments();
      ReportUnhandledLocked("more AU headers than a packet can carry");
      return;
    }
  }
  if (units.empty()) {
    dropFragments();
    ReportUnhandledLocked("an AU header section without a whole header");
    return;
  }
  if (interleaved) ReportUnhandledLocked("interleaved units (delivered in packet order)");
  const uint8_t* data = payload + 2 + headerBytes;
  const size_t dataSize = size - 2 - headerBytes;

  if (units.size() == 1 && units[0] > dataSize) {
    // A fragment: every fragment's header gives the size of the whole unit.
    const size_t total = units[0];
    if (total > capacity) {
      dropFragments();
      ReportOverflowLocked(capacity);
      return;
    }
    const bool continues = aacExpected_ == total && !aac_.empty() && aac_.size() + dataSize <= total;
    if (!continues) {
      aac_.clear();
      aacExpected_ = total;
    }
    aac_.insert(aac_.end(), data, data + dataSize);
    if (aac_.size() == total) {
      out.emplace_back();
      out.back().bytes.swap(aac_);
      dropFragments();
    }
    return;
  }
  // Whole units only: a unit whose last fragment never came is incomplete for good.
  dropFragments();
  size_t offset = 0;
  for (size_t unitSize : units) {
    if (unitSize > dataSize - offset) {
      ReportUnhandledLocked("access units beyond the packet's end");
      return;
    }
    if (unitSize > capacity) {
      ReportOverflowLocked(capacity);
    } else if (unitSize > 0) {
      out.emplace_back();
      out.back().bytes.assign(data + offset, data + offset + unitSize);
    }
    offset += unitSize;
  }
}

void CBaseRTPAudioParser::ReportOverflowLocked(size_t buffered) {
  const uint64_t now = NowMs();
  const uint64_t interval = 10ull * (driver_ ? driver_->GetDeviceInfo().timeout : 5000);
  if (overflowLogged_ && now - lastOverflowLogMs_ < interval) return;
  overflowLogged_ = true;
  lastOverflowLogMs_ = now;
  if (driver_)
    driver_->Log(kLogError, "%s: Audio buffer overflow max=%u mAudioBuffer=%u", kParseACCData,
                 static_cast<unsigned>(threshold_), static_cast<unsigned>(buffered));
}

void CBaseRTPAudioParser::ReportUnhandledLocked(const char* what) {
  if (unhandledLogged_) return;
  unhandledLogged_ = true;
  if (driver_)
    driver_->Log(
        kLogWarning,
        "%s: AAC audio from %s carries %s, which this driver cannot take apart; such packets are dropped",
        kProcessPacket, driver_->GetDeviceAddress().c_str(), what);
}

bool CBaseRTPAudioParser::ProcessAudioFrame(const uint8_t* bytes, size_t size, const Snapshot& snapshot) {
  if (!driver_ || !bytes || size == 0) return true;
  ipcapture::IIPFrameAllocator* allocator = driver_->GetFrameAllocator();
  if (!allocator) return true;
  const AudioFormatBlock& format = snapshot.format;
  const std::string owner = driver_->GetDeviceAddress();
  auto* frame = static_cast<ipcapture::IIPAudioFrame*>(
      allocator->AllocateAudio(format.tag, static_cast<uint32_t>(size), owner.c_str()));
  if (!frame) {
    driver_->Log(kLogError, "%s: Unable to allocate  memory for audio frame!", kProcessAudioFrame);
    return true;
  }
  uint8_t* data = frame->GetData();
  if (!data) {
    driver_->Log(kLogError, "%s: Unable to allocate  memory for audio frame!", kProcessAudioFrame);
    allocator->Release(frame);
    return true;
  }
  bool delivered = false;
  try {
    std::memcpy(data, bytes, size);
    frame->SetDataSize(static_cast<uint32_t>(size));
    if (format.tag == kAudioTagAac) {
      if (!snapshot.decoderConfig.empty()) {
        frame->SetDecoderConfig(snapshot.decoderConfig.data(),
                                static_cast<uint32_t>(snapshot.decoderConfig.size()));
      } else if (auto config = BuildAacLcConfig(format.sampleRate, format.channels)) {
        frame->SetDecoderConfig(config->data(), static_cast<uint32_t>(config->size()));
      }
    }
    frame->SetFormat(format.sampleRate, format.bitsPerSample, format.channels == 2);
    frame->SetBitRate(format.bitRate);
    frame->SetChannel(channel_);
    const auto unixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const AudioCaptureTime t = AudioCaptureTimeFromUnixMs(unixMs);
    SYSTEMTIME now{t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second, t.milliseconds};
    frame->SetTime(&now);
    delivered = client_ && client_->DeliverFrame(frame);
  } catch (...) {
    delivered = false;
  }
  bool refused = false;
  // Asked after the refusal: a stop that began meanwhile makes it no error.
  if (!delivered && (!client_ || client_->IsTakingFrames())) {
    const DEVICE_INFO& device = driver_->GetDeviceInfo();
    driver_->Log(kLogError, "%s: Audio-frame processing error, camera %s:%u", kProcessAudioFrame,
                 device.address.c_str(), static_cast<unsigned>(device.port));
    refused = true;
  }
  allocator->Release(frame);
  return !refused;
}

}  // namespace vantrel
