#include "capabilities/lumivar_camera_properties.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "control/rcp_record_list.h"

namespace vantrel {
namespace {

constexpr uint16_t kCmdFirmware = 0x002F;
constexpr uint16_t kCmdMac = 0x00BC;
constexpr uint16_t kCmdVideoLines = 0x01D6;
constexpr uint16_t kCmdInputs = 0x01DB;
constexpr uint16_t kCmdOutputs = 0x01DC;
constexpr uint16_t kCmdLogin = 0x028B;
constexpr uint16_t kCmdEncoders = 0x0504;
constexpr uint16_t kCmdModel = 0x097C;
constexpr uint16_t kCmdStorage = 0x09D4;
constexpr uint16_t kCmdFrameRate = 0x0AD6;
constexpr uint16_t kCmdProfiles = 0x0AF9;
constexpr uint16_t kCmdDewarp = 0x0BF6;
constexpr uint16_t kCmdRecords = 0x0C00;
constexpr uint16_t kCmdCapabilities = 0xFF10;
constexpr const char* kControlProbe = "0x810004030001";

struct CodeSize {
  uint8_t code;
  uint16_t width;
  uint16_t height;
  bool group4;
};

// Resolution of each encoder code a camera may list in its profile pairs.
constexpr CodeSize kCodeSizes[] = {
    {4, 1280, 720, false},   {5, 1280, 720, false},   {7, 1280, 720, false},   {8, 1280, 720, false},
    {19, 1280, 720, false},  {6, 1920, 1080, false},  {9, 1920, 1080, false},  {15, 1280, 960, false},
    {27, 1280, 960, false},  {16, 1440, 1080, false}, {17, 1280, 1024, false}, {59, 1280, 1024, false},
    {18, 576, 1024, false},  {20, 2704, 2032, true},  {54, 2704, 2032, true},  {21, 2992, 1680, true},
    {53, 2992, 1680, true},  {22, 3840, 2160, true},  {23, 4000, 3000, true},  {24, 3584, 2016, true},
    {25, 800, 600, false},   {26, 1024, 768, false},  {28, 1600, 1200, false}, {29, 3648, 2160, true},
    {30, 2640, 2640, true},  {55, 2640, 2640, true},  {31, 1792, 1792, false}, {56, 1792, 1792, false},
    {32, 1024, 1024, false}, {33, 800, 800, false},   {42, 800, 800, false},   {34, 1536, 864, false},
    {35, 2560, 1440, true},  {36, 2560, 960, false},  {37, 3648, 1080, false}, {38, 1824, 1080, false},
    {57, 1824, 1080, false}, {39, 1824, 540, false},  {40, 1280, 480, false},  {41, 1536, 1536, false},
    {43, 768, 768, false},   {44, 768, 288, false},   {45, 2048, 1152, true},  {46, 2688, 800, false},
    {47, 672, 200, false},   {48, 608, 360, false},   {49, 640, 240, false},   {50, 768, 576, false},
    {51, 3584, 504, false},  {58, 1216, 720, false},
};

const CodeSize* FindCode(uint8_t code) {
  if (code < 4 || code > 59) return nullptr;
  for (const CodeSize& c : kCodeSizes)
    if (c.code == code) return &c;
  return nullptr;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

CLumivarCameraProperties::CLumivarCameraProperties(std::unique_ptr<IRcpPropertySource> source,
                                                   ProfileCandidatesFn candidates, JpegCodeFn jpegCodes,
                                                   bool highRate, std::string ptzProtocolName)
    : CBaseCameraProperties(highRate),
      source_(std::move(source)),
      candidates_(candidates),
      jpegCodes_(jpegCodes),
      ptzProtocolName_(Lower(std::move(ptzProtocolName))) {}

void CLumivarCameraProperties::Abort() {
  aborted_ = true;
  source_->Cancel();
}

std::string CLumivarCameraProperties::CleanCameraText(const std::string& text) {
  std::string out = text.substr(0, std::min(text.size(), kMaxCameraText));
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F) c = '?';
  }
  return out;
}

std::string CLumivarCameraProperties::MacText(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 6) return {};
  char text[32];
  std::snprintf(text, sizeof(text), "%X%X%X%X%X%X", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
                bytes[5]);
  return text;
}

bool CLumivarCameraProperties::Load(uint32_t& status) {
  status = kPropertiesFailed;
  detail_.clear();
  if (LoadSteps(status)) return true;
  if (Aborted()) {
    // Whatever the interrupted request looked like, it says nothing about the camera.
    status = kPropertiesFailed;
    detail_ = "the query was terminated";
  }
  return false;
}

bool CLumivarCameraProperties::LoadSteps(uint32_t& status) {
  if (Aborted()) return false;
  if (!Identify(status)) return false;

  if (Aborted()) return false;
  if (CleanCameraText(source_->ReadString(kCmdLogin, 2)).empty()) {
    status = kPropertiesLoginFailed;
    return false;
  }

  if (Aborted()) return false;
  if (!SkipsPtzDetection()) DetectPtz();

  if (Aborted()) return false;
  if (!ReadEncoderStreams()) {
    status = kPropertiesFailed;
    return false;
  }

  if (Aborted()) return false;
  bool ok = false;
  const uint32_t inputs = source_->ReadNumber(kCmdInputs, ok);
  inputs_ = ok && inputs <= kMaxIoCount ? inputs : 0;
  const uint32_t outputs = source_->ReadNumber(kCmdOutputs, ok);
  outputs_ = ok && outputs <= kMaxIoCount ? outputs : 0;

  if (Aborted()) return false;
  if (source_->Exchange(kControlProbe, 0).size() >= 8) {
    controlKind_ = 1;
    controlValue_ = 4;
  }

  if (Aborted()) return false;
  if (cameraGroup_) {
    const std::vector<uint8_t> storage = source_->ReadBytes(kCmdStorage, 0);
    storage_ = std::any_of(storage.begin(), storage.end(), [](uint8_t b) { return b != 0; });
  }

  ioQueried_[0] = ioQueried_[1] = true;
  status = kPropertiesOk;
  return true;
}

bool CLumivarCameraProperties::Identify(uint32_t& status) {
  model_ = CleanCameraText(source_->ReadString(kCmdModel, 0));
  if (model_.empty()) {
    // Which way the first request failed tells the integrator where to look.
    const uint32_t http = source_->LastHttpStatus();
    if (http == 0) {
      status = kPropertiesOffline;
    } else if (http == 401 || http == 403) {
      status = kPropertiesLoginFailed;
    } else {
      status = kPropertiesFailed;
      detail_ = "the camera did not name its model";
    }
    return false;
  }
  vendor_ = "Bosch";
  if (Aborted()) return false;
  if (!ParseRcpCapabilityList(source_->ReadBytes(kCmdCapabilities, 0), masks_)) {
    detail_ = "the camera's capability list is missing or unreadable";
    return false;
  }
  if (Aborted()) return false;
  bool ok = false;
  videoLines_ = source_->ReadNumber(kCmdVideoLines, ok);
  if (!ok || videoLines_ == 0) {
    videoLines_ = 0;
    detail_ = "the camera reports no video line";
    return false;
  }
  if (Aborted()) return false;
  const std::vector<uint8_t> first = source_->ReadBytes(kCmdDewarp, 1);
  if (!first.empty() && first[0] != 0) {
    dewarpMode_ = first[0];
    fishEyeLine_ = 1;
    // A fish-eye encoder with a second line delivers the de-warped view there.
    if (videoLines_ >= 2) {
      const std::vector<uint8_t> second = source_->ReadBytes(kCmdDewarp, 2);
      if (!second.empty() && second[0] != 0) {
        dewarpMode_ = second[0];
        fishEyeLine_ = 2;
      }
    }
  }
  line_ = fishEyeLine_ ? fishEyeLine_ : 1;
  if (Aborted()) return false;
  profiles_ = ParseEncoderProfileRecords(source_->ReadBytes(kCmdProfiles, line_));
  encoderCapabilities_ = EncoderCapabilityText(profiles_);
  // The audio section of the capability list: element 1 announces inputs, element 2 outputs.
  if (masks_.mask[2] != 0) audioIn_ = CAudioCapabilities(1, false);
  if (masks_.mask[3] != 0) audioOut_ = CAudioCapabilities(1, false);
  streamCount_ = 3;
  secondFacility_ = true;
  if (Aborted()) return false;
  firmware_ = CleanCameraText(source_->ReadString(kCmdFirmware, 0));
  mac_ = MacText(source_->ReadBytes(kCmdMac, 0));
  return true;
}

void CLumivarCameraProperties::DetectPtz() {
  if (Lower(model_).find("autodome") != std::string::npos) ptzPresent_ = true;
  if (ptzProtocolName_ == "osrd") {
    ptzProtocol_ = 2;
  } else if (ptzProtocolName_ == "bicom") {
    ptzProtocol_ = 3;
  } else {
    ptzProtocol_ = 1;
  }
  if (dewarpMode_ != 0) ptzProtocol_ = 3;
}

bool CLumivarCameraProperties::ProfileSupports(uint32_t width, uint32_t height, uint32_t stream) const {
  if (profiles_.pairs.empty()) return true;
  const std::vector<uint8_t> candidates = candidates_ ? candidates_(width, height) : std::vector<uint8_t>{};
  const auto isCandidate = [&](uint8_t code) {
    return std::find(candidates.begin(), candidates.end(), code) != candidates.end();
  };
  for (const auto& [first, second] : profiles_.pairs) {
    if (isCandidate(stream == 0 ? first : second)) return true;
  }
  if (stream == 0 && profiles_.zeroFirst) {
    for (const auto& pair : profiles_.pairs)
      if (isCandidate(pair.second)) return true;
  }
  if (stream == 1 && profiles_.zeroSecond) {
    for (const auto& pair : profiles_.pairs)
      if (isCandidate(pair.first)) return true;
  }
  return false;
}

void CLumivarCameraProperties::AddStandardResolution(uint32_t width, uint32_t height, uint32_t rate) {
  if (ProfileSupports(width, height, 0)) streams_[kRecording].AddResolution(width, height, rate);
  if (ProfileSupports(width, height, 1)) streams_[kLive].AddResolution(width, height, rate);
  if (!streams_[kRemote].described) streams_[kRemote].AddResolution(width, height, rate);
}

void CLumivarCameraProperties::AddCodeResolution(uint8_t code, StreamIndex list, uint32_t rate) {
  const CodeSize* size = FindCode(code);
  if (!size) return;
  streams_[list].AddResolution(size->width, size->height, rate);
  if (size->group4) cameraGroup_ = 4;
}

bool CLumivarCameraProperties::ReadEncoderStreams() {
  bool ok = false;
  const uint64_t milli = source_->ReadNumber(kCmdFrameRate, ok);
  if (!ok) {
    detail_ = "the camera does not report its frame rate";
    return false;
  }
  uint32_t rate = static_cast<uint32_t>((milli + 500) / 1000);
  if (rate > kMaxFrameRate) rate = 0;
  const uint32_t encoders = source_->ReadNumber(kCmdEncoders, ok);
  if (encoders < 2) {
    videoStandard_ = 0;
  } else if (encoders == 2) {
    videoStandard_ = 1;
  } else {
    videoStandard_ = rate % 30 == 0 ? 1 : 0;
  }
  const uint32_t f = rate ? rate : (videoStandard_ == 1 ? 30 : 25);
  maxFrameRate_ = f;
  for (CameraStreamList& list : streams_) {
    if (f < 31) list.rates.insert(1);
    for (uint32_t d = 1; f >= 2 && d <= f / 2; ++d) list.rates.insert(f / d);
    list.defaultRate = f;
  }
  streams_[kRemote].codecs.insert(kCodecJpeg);

  if (Aborted()) return false;
  RcpRecordMap records;
  if (ParseRcpRecordList(source_->ReadBytes(kCmdRecords, line_), records)) {
    for (const auto& [key, value] : records) streams_[kRemote].AddResolution(key.first, key.second, f);
    streams_[kRemote].described = true;
  }

  const uint16_t mask1 = masks_.mask[0];
  if (mask1 & 0x02) {
    streams_[kRecording].codecs.insert(kCodecMpeg4);
    streams_[kLive].codecs.insert(kCodecMpeg4);
    cameraGroup_ = 0;
  }
  if (mask1 & 0x04) {
    // The camera's H.264 encoder: its streams are what a recorder records and shows live.
    streams_[kRecording].codecs.insert(kCodecH264);
    streams_[kLive].codecs.insert(kCodecH264);
  }

  const bool pal = videoStandard_ == 0;
  struct Standard {
    uint16_t bit;
    uint32_t width;
    uint32_t height;
    uint32_t palHeight;
    int group;  // -1: none
  };
  const Standard standards[] = {
      {0x0001, 176, 120, 144, -1}, {0x0002, 352, 240, 288, -1},   {0x0004, 704, 240, 288, -1},
      {0x0008, 704, 480, 576, -1}, {0x0020, 320, 240, 240, -1},   {0x0040, 640, 480, 480, -1},
      {0x0080, 1280, 720, 720, 2}, {0x0100, 1920, 1080, 1080, 3}, {0x0200, 256, 144, 144, -1},
      {0x0400, 512, 288, 288, -1}, {0x0800, 768, 432, 432, -1},   {0x1000, 2592, 1944, 1944, 4},
  };
  for (const Standard& s : standards) {
    if (!(masks_.mask[1] & s.bit)) continue;
    AddStandardResolution(s.width, pal ? s.palHeight : s.height, f);
    if (s.group >= 0) cameraGroup_ = static_cast<uint32_t>(s.group);
  }

  for (const auto& [a, b] : profiles_.pairs) {
    if (a == 0) {
      AddCodeResolution(b, kRecording, f);
      AddCodeResolution(b, kLive, f);
    } else if (b != 0) {
      AddCodeResolution(a, kRecording, f);
      AddCodeResolution(b, kLive, f);
    } else {
      AddCodeResolution(a, kRecording, f);
      AddCodeResolution(a, kLive, f);
    }
  }
  liveDescribed_ = true;
  return true;
}

std::string CLumivarCameraProperties::MjpegResolutionText() const {
  std::string text;
  std::vector<std::pair<uint32_t, uint32_t>> written;
  for (const StreamIndex index : {kLive, kRemote}) {
    const CameraStreamList& list = streams_[index];
    if (!list.codecs.count(kCodecJpeg)) continue;
    for (const CameraResolution& r : list.resolutions) {
      const std::pair<uint32_t, uint32_t> size{r.width, r.height};
      if (std::find(written.begin(), written.end(), size) != written.end()) continue;
      const std::optional<uint32_t> code = jpegCodes_ ? jpegCodes_(r.width, r.height) : std::nullopt;
      if (!code || *code == 0) continue;  // Open ignores an entry with a 0 in it
      written.push_back(size);
      char entry[48];
      std::snprintf(entry, sizeof(entry), "%u:%ux%u", *code, r.width, r.height);
      if (!text.empty()) text += ';';
      text += entry;
    }
  }
  return text;
}

bool CLumivarCameraProperties::WriteDescriptiveEntries(ipcapture::IIPCapabilityResult* result) {
  if (storage_ && !result->SetNumber(28, 1)) return false;
  const auto number = [](uint32_t v) { return std::to_string(v); };
  return WriteText(result, 1, "Video standard", number(videoStandard_)) &&
         WriteText(result, 2, "Firmware version", firmware_) && WriteText(result, 3, "MAC address", mac_) &&
         WriteText(result, 4, "PTZ Protocol", number(ptzProtocol_)) &&
         WriteText(result, 5, "Camera group", cameraGroup_ ? number(*cameraGroup_) : std::string()) &&
         WriteText(result, 6, "Max Frame Rate", number(maxFrameRate_)) &&
         WriteText(result, 7, "Encoder capabilities", encoderCapabilities_) &&
         WriteText(result, 8, "Fish Eye Video Line", number(fishEyeLine_)) &&
         WriteText(result, 9, "De-warp mode", number(dewarpMode_)) &&
         WriteText(result, 10, "Mjpeg Resolutions", MjpegResolutionText());
}

}  // namespace vantrel
