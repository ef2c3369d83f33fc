#include "ptz/ptz_command.h"

#include <algorithm>
#include <cstdio>

namespace vantrel {

std::string CPTZCommandIf::GetText() const {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : GetBytes()) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

// ---- Pelco-D ---------------------------------------------------------------------------------
//
//   0     1       2      3      4      5      6
//   FF  addr   cmd1   cmd2   data1  data2  sum(1..5) mod 256

namespace {
constexpr size_t kCmd1 = 2, kCmd2 = 3, kData1 = 4, kData2 = 5;
}  // namespace

CPelcoDPTZCommand::CPelcoDPTZCommand(uint16_t line) : CPTZCommandIf(line) { Reset(); }

void CPelcoDPTZCommand::Reset() {
  std::fill(std::begin(frame_), std::end(frame_), 0);
  frame_[0] = 0xFF;
  frame_[1] = static_cast<uint8_t>(GetLine() + 1);
}

void CPelcoDPTZCommand::GetPresetRange(uint16_t& first, uint16_t& last) const {
  first = kFirstPreset;
  last = kLastPreset;
}

void CPelcoDPTZCommand::Pan(bool right, uint8_t speed) {
  frame_[kCmd2] = static_cast<uint8_t>((frame_[kCmd2] & ~0x06) | (right ? 0x02 : 0x04));
  frame_[kData1] = speed;
}

void CPelcoDPTZCommand::Tilt(bool up, uint8_t speed) {
  frame_[kCmd2] = static_cast<uint8_t>((frame_[kCmd2] & ~0x18) | (up ? 0x08 : 0x10));
  frame_[kData2] = speed;
}

void CPelcoDPTZCommand::Zoom(bool tele, uint8_t) {
  frame_[kCmd2] = static_cast<uint8_t>((frame_[kCmd2] & ~0x60) | (tele ? 0x20 : 0x40));
}

void CPelcoDPTZCommand::Focus(bool far, uint8_t) {
  if (far) {
    frame_[kCmd2] |= 0x80;
    frame_[kCmd1] &= static_cast<uint8_t>(~0x01);
  } else {
    frame_[kCmd1] |= 0x01;
    frame_[kCmd2] &= static_cast<uint8_t>(~0x80);
  }
}

void CPelcoDPTZCommand::Iris(bool open, uint8_t) {
  frame_[kCmd1] = static_cast<uint8_t>((frame_[kCmd1] & ~0x06) | (open ? 0x02 : 0x04));
}

void CPelcoDPTZCommand::Stop(uint32_t) {
  frame_[kCmd1] = 0;
  frame_[kCmd2] = 0;
}

void CPelcoDPTZCommand::PresetCommand(uint8_t command2, uint16_t preset) {
  // Heads number their presets 1 to 32; anything else would address a different function.
  if (preset < kFirstPreset || preset > kLastPreset) return;
  frame_[kCmd1] = 0;
  frame_[kCmd2] = command2;
  frame_[kData1] = 0;
  frame_[kData2] = static_cast<uint8_t>(preset);
}

void CPelcoDPTZCommand::ExtendedCommand(uint8_t command2, uint8_t value) {
  frame_[kCmd1] = 0;
  frame_[kCmd2] = command2;
  frame_[kData1] = 0;
  frame_[kData2] = value;
}

std::vector<uint8_t> CPelcoDPTZCommand::GetBytes() const {
  std::vector<uint8_t> bytes(std::begin(frame_), std::end(frame_));
  unsigned sum = 0;
  for (size_t i = 1; i <= 5; ++i) sum += bytes[i];
  bytes[6] = static_cast<uint8_t>(sum);
  return bytes;
}

// ---- BiCom -----------------------------------------------------------------------------------

namespace {
const uint8_t kBiComMovement[] = {0x80, 0x00, 0x06, 0x01, 0x10, 0x85, 0x00, 0x00, 0x00};
const uint8_t kBiComLens[] = {0x80, 0x00, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00};
const uint8_t kBiComPreset[] = {0x80, 0x00, 0x02, 0x01, 0xB0, 0x80, 0x07, 0x00, 0x00};

template <size_t N>
std::vector<uint8_t> Template(const uint8_t (&bytes)[N]) {
  return std::vector<uint8_t>(bytes, bytes + N);
}
}  // namespace

void CBiCom_PTZCommand::GetPresetRange(uint16_t& first, uint16_t& last) const {
  first = 1;
  last = 99;
}

void CBiCom_PTZCommand::MovementAxis(size_t index, bool positive, uint8_t speed) {
  if (frame_.size() != sizeof(kBiComMovement)) frame_ = Template(kBiComMovement);
  frame_[index] = static_cast<uint8_t>((positive ? 0x80 : 0x00) | (speed & 0x7F));
}

void CBiCom_PTZCommand::Lens(uint8_t b4, uint8_t b5, uint8_t b7) {
  frame_ = Template(kBiComLens);
  frame_[4] = b4;
  frame_[5] = b5;
  frame_[7] = b7;
}

void CBiCom_PTZCommand::Focus(bool far, uint8_t) { Lens(0xF0, 0x82, far ? 1 : 2); }
void CBiCom_PTZCommand::Iris(bool open, uint8_t) { Lens(0xB0, 0x82, open ? 2 : 1); }
void CBiCom_PTZCommand::SetAutoFocusMode(uint8_t value) { Lens(0xF0, 0x02, value == 2 ? 2 : 1); }
void CBiCom_PTZCommand::SetAutoIrisMode(uint8_t value) { Lens(0xB0, 0x02, value == 2 ? 1 : 0); }

void CBiCom_PTZCommand::Stop(uint32_t kind) {
  switch (kind) {
    case 0:
      frame_ = Template(kBiComMovement);
      break;
    case 1:
      Lens(0xF0, 0x82, 0);
      break;
    case 2:
      Lens(0xB0, 0x82, 0);
      break;
    case 3:
      frame_ = Template(kBiComPreset);
      break;
    default:
      break;
  }
}

void CBiCom_PTZCommand::PresetCommand(uint8_t operation, uint16_t preset) {
  frame_ = Template(kBiComPreset);
  frame_[7] = operation;
  frame_[8] = static_cast<uint8_t>(preset);
}

// ---- OSRD ------------------------------------------------------------------------------------
//
//   movement (kind 5):  len|80  line>>7  line&7F  05  [zoom/iris/focus speed:3 | tilt speed:4]
//                       [pan speed:4 <<3 | iris open 04 / close 02 | focus far 01]
//                       [focus near 40 | zoom tele 20 / wide 10 | up 08 / down 04 | left 02 / right 01]
//   preset (kind 7):    len|80  line>>7  line&7F  07  (preset>>7)<<4 | operation  preset&7F
//   then the 7-bit sum of all the bytes.

void COSRDPTZCommand::GetPresetRange(uint16_t& first, uint16_t& last) const {
  first = 1;
  last = 99;
}

void COSRDPTZCommand::Header(uint8_t kind) {
  const size_t zeros = kind == kMovementKind ? 3 : 2;
  frame_.assign(4 + zeros, 0);
  frame_[0] = static_cast<uint8_t>(frame_.size() | 0x80);
  frame_[1] = static_cast<uint8_t>((GetLine() >> 7) & 0x7F);
  frame_[2] = static_cast<uint8_t>(GetLine() & 0x7F);
  frame_[3] = kind;
}

void COSRDPTZCommand::EnsureMovement() {
  // A kind-5 frame needs all of its 7 bytes; a shorter one is rebuilt rather than indexed past.
  if (frame_.size() >= 7 && frame_[3] == kMovementKind) return;
  Header(kMovementKind);
}

void COSRDPTZCommand::SetLensSpeed(uint8_t speed) {
  const uint8_t s = std::min<uint8_t>(speed, 7);
  frame_[4] = static_cast<uint8_t>((frame_[4] & ~0x70) | (s << 4));
}

void COSRDPTZCommand::Pan(bool right, uint8_t speed) {
  EnsureMovement();
  const uint8_t s = std::min<uint8_t>(speed, 15);
  frame_[5] = static_cast<uint8_t>((frame_[5] & ~0x78) | (s << 3));
  frame_[6] = static_cast<uint8_t>((frame_[6] & ~0x03) | (right ? 0x01 : 0x02));
}

void COSRDPTZCommand::Tilt(bool up, uint8_t speed) {
  EnsureMovement();
  const uint8_t s = std::min<uint8_t>(speed, 15);
  frame_[4] = static_cast<uint8_t>((frame_[4] & ~0x0F) | s);
  frame_[6] = static_cast<uint8_t>((frame_[6] & ~0x0C) | (up ? 0x08 : 0x04));
}

void COSRDPTZCommand::Zoom(bool tele, uint8_t speed) {
  EnsureMovement();
  SetLensSpeed(speed);
  frame_[6] = static_cast<uint8_t>((frame_[6] & ~0x30) | (tele ? 0x20 : 0x10));
}

void COSRDPTZCommand::Iris(bool open, uint8_t speed) {
  EnsureMovement();
  SetLensSpeed(speed);
  frame_[5] = static_cast<uint8_t>((frame_[5] & ~0x06) | (open ? 0x04 : 0x02));
}

void COSRDPTZCommand::Focus(bool far, uint8_t speed) {
  EnsureMovement();
  SetLensSpeed(speed);
  if (far) {
    frame_[5] |= 0x01;
    frame_[6] &= static_cast<uint8_t>(~0x40);
  } else {
    frame_[5] &= static_cast<uint8_t>(~0x01);
    frame_[6] |= 0x40;
  }
}

void COSRDPTZCommand::Stop(uint32_t) {
  EnsureMovement();
  frame_[4] = frame_[5] = frame_[6] = 0;
}

void COSRDPTZCommand::PresetCommand(uint8_t operation, uint16_t preset) {
  const uint16_t p = std::min<uint16_t>(preset, 1023);
  Header(kPresetKind);
  frame_[4] = static_cast<uint8_t>(((p >> 7) << 4) | operation);
  frame_[5] = static_cast<uint8_t>(p & 0x7F);
}

std::vector<uint8_t> COSRDPTZCommand::GetBytes() const {
  std::vector<uint8_t> bytes = frame_;
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  bytes.push_back(static_cast<uint8_t>(sum & 0x7F));
  return bytes;
}

std::unique_ptr<CPTZCommandIf> CreatePTZCommand(uint32_t protocol, uint16_t line) {
  switch (protocol) {
    case kPTZProtocolPelcoD:
      return std::make_unique<CPelcoDPTZCommand>(line);
    case kPTZProtocolOSRD:
      return std::make_unique<COSRDPTZCommand>(line);
    case kPTZProtocolBiCom:
      return std::make_unique<CBiCom_PTZCommand>(line);
    default:
      return nullptr;
  }
}

}  // namespace vantrel
