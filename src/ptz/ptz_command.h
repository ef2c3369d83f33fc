// Serial frame builders for the PTZ heads a camera passes frames through. A builder is made
// fresh for every command, so each frame starts empty; pan, tilt and zoom may be combined into
// one frame (pan before tilt for diagonal moves).
//
// Speeds arrive already scaled into the protocol's range; the builders still mask them to the
// width of their field so that an out-of-range value can never spill into a direction bit.
// Portable: no Win32 here, so the frames are unit-tested and fuzzed natively.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

struct PTZSpeedRanges {
  uint8_t panTiltMin = 0;
  uint8_t panTiltMax = 0;
  uint8_t lensMin = 0;  // zoom, focus and iris
  uint8_t lensMax = 0;
};

// Serial protocol numbers as the host's "PTZ Protocol" parameter gives them.
enum PTZProtocol : uint32_t {
  kPTZProtocolNone = 0,
  kPTZProtocolPelcoD = 1,
  kPTZProtocolOSRD = 2,
  kPTZProtocolBiCom = 3,
};

class CPTZCommandIf {
 public:
  explicit CPTZCommandIf(uint16_t line) : line_(line) {}
  virtual ~CPTZCommandIf() = default;
  CPTZCommandIf(const CPTZCommandIf&) = delete;
  CPTZCommandIf& operator=(const CPTZCommandIf&) = delete;

  virtual bool SupportsFocusMode() const = 0;
  virtual bool SupportsIrisMode() const = 0;
  virtual bool SupportsClearPreset() const = 0;
  virtual bool SupportsZoomSpeed() const = 0;
  virtual bool SupportsFocusSpeed() const = 0;
  virtual void GetPresetRange(uint16_t& first, uint16_t& last) const = 0;
  virtual PTZSpeedRanges GetSpeedRanges() const = 0;
  virtual void Pan(bool right, uint8_t speed) = 0;
  virtual void Tilt(bool up, uint8_t speed) = 0;
  virtual void Zoom(bool tele, uint8_t speed) = 0;
  virtual void Iris(bool open, uint8_t speed) = 0;
  virtual void Focus(bool far, uint8_t speed) = 0;
  // 0 movement, 1 focus, 2 iris.
  virtual void Stop(uint32_t kind) = 0;
  virtual void StorePreset(uint16_t preset) = 0;
  virtual void GoToPreset(uint16_t preset) = 0;
  virtual void ClearPreset(uint16_t preset) = 0;
  // 1 automatic, 2 manual.
  virtual void SetAutoFocusMode(uint8_t value) = 0;
  virtual void SetAutoIrisMode(uint8_t value) = 0;
  virtual void SetZoomSpeed(uint8_t value) = 0;
  virtual void SetFocusSpeed(uint8_t value) = 0;
  virtual void Reset() = 0;
  // Upper-case hex, two digits per byte, no separators.
  virtual std::string GetText() const;
  virtual std::vector<uint8_t> GetBytes() const = 0;

  uint16_t GetLine() const { return line_; }

 private:
  const uint16_t line_;  // 0-based channel index
};

// Standard 7-byte Pelco-D frame: FF addr cmd1 cmd2 data1 data2 checksum, addr = line + 1.
class CPelcoDPTZCommand : public CPTZCommandIf {
 public:
  explicit CPelcoDPTZCommand(uint16_t line);

  bool SupportsFocusMode() const override { return true; }
  bool SupportsIrisMode() const override { return true; }
  bool SupportsClearPreset() const override { return true; }
  bool SupportsZoomSpeed() const override { return true; }
  bool SupportsFocusSpeed() const override { return true; }
  void GetPresetRange(uint16_t& first, uint16_t& last) const override;
  PTZSpeedRanges GetSpeedRanges() const override { return {3, 63, 0, 3}; }
  void Pan(bool right, uint8_t speed) override;
  void Tilt(bool up, uint8_t speed) override;
  void Zoom(bool tele, uint8_t speed) override;
  void Iris(bool open, uint8_t speed) override;
  void Focus(bool far, uint8_t speed) override;
  void Stop(uint32_t kind) override;
  void StorePreset(uint16_t preset) override { PresetCommand(0x03, preset); }
  void GoToPreset(uint16_t preset) override { PresetCommand(0x07, preset); }
  void ClearPreset(uint16_t preset) override { PresetCommand(0x05, preset); }
  void SetAutoFocusMode(uint8_t value) override { ExtendedCommand(0x2B, value); }
  void SetAutoIrisMode(uint8_t value) override { ExtendedCommand(0x2D, value); }
  void SetZoomSpeed(uint8_t value) override { ExtendedCommand(0x25, value); }
  void SetFocusSpeed(uint8_t value) override { ExtendedCommand(0x27, value); }
  void Reset() override;
  std::vector<uint8_t> GetBytes() const override;

 private:
  static constexpr uint16_t kFirstPreset = 1;
  static constexpr uint16_t kLastPreset = 32;
  void PresetCommand(uint8_t command2, uint16_t preset);
  void ExtendedCommand(uint8_t command2, uint8_t value);

  uint8_t frame_[7] = {};  // checksum byte filled only when read
};

// BiCom frames, copied from three fixed templates; no checksum.
class CBiCom_PTZCommand : public CPTZCommandIf {
 public:
  explicit CBiCom_PTZCommand(uint16_t line) : CPTZCommandIf(line) {}

  bool SupportsFocusMode() const override { return true; }
  bool SupportsIrisMode() const override { return true; }
  bool SupportsClearPreset() const override { return false; }
  bool SupportsZoomSpeed() const override { return false; }
  bool SupportsFocusSpeed() const override { return false; }
  void GetPresetRange(uint16_t& first, uint16_t& last) const override;
  PTZSpeedRanges GetSpeedRanges() const override { return {1, 15, 1, 7}; }
  void Pan(bool right, uint8_t speed) override { MovementAxis(6, right, speed); }
  void Tilt(bool up, uint8_t speed) override { MovementAxis(7, up, speed); }
  void Zoom(bool tele, uint8_t speed) override { MovementAxis(8, tele, speed); }
  void Iris(bool open, uint8_t speed) override;
  void Focus(bool far, uint8_t speed) override;
  void Stop(uint32_t kind) override;
  void StorePreset(uint16_t preset) override { PresetCommand(4, preset); }
  void GoToPreset(uint16_t preset) override { PresetCommand(5, preset); }
  void ClearPreset(uint16_t) override {}
  void SetAutoFocusMode(uint8_t value) override;
  void SetAutoIrisMode(uint8_t value) override;
  void SetZoomSpeed(uint8_t) override {}
  void SetFocusSpeed(uint8_t) override {}
  void Reset() override { frame_.clear(); }
  std::vector<uint8_t> GetBytes() const override { return frame_; }

 private:
  void MovementAxis(size_t index, bool positive, uint8_t speed);
  void Lens(uint8_t b4, uint8_t b5, uint8_t b7);
  void PresetCommand(uint8_t operation, uint16_t preset);

  std::vector<uint8_t> frame_;
};

// OSRD frames: 7-bit bytes, a kind in byte 3, a 7-bit sum appended when read.
class COSRDPTZCommand : public CPTZCommandIf {
 public:
  explicit COSRDPTZCommand(uint16_t line) : CPTZCommandIf(line) {}

  bool SupportsFocusMode() const override { return false; }
  bool SupportsIrisMode() const override { return false; }
  bool SupportsClearPreset() const override { return false; }
  bool SupportsZoomSpeed() const override { return false; }
  bool SupportsFocusSpeed() const override { return false; }
  void GetPresetRange(uint16_t& first, uint16_t& last) const override;
  PTZSpeedRanges GetSpeedRanges() const override { return {1, 15, 1, 7}; }
  void Pan(bool right, uint8_t speed) override;
  void Tilt(bool up, uint8_t speed) override;
  void Zoom(bool tele, uint8_t speed) override;
  void Iris(bool open, uint8_t speed) override;
  void Focus(bool far, uint8_t speed) override;
  void Stop(uint32_t kind) override;
  void StorePreset(uint16_t preset) override { PresetCommand(4, preset); }
  void GoToPreset(uint16_t preset) override { PresetCommand(5, preset); }
  void ClearPreset(uint16_t) override {}
  void SetAutoFocusMode(uint8_t) override {}
  void SetAutoIrisMode(uint8_t) override {}
  void SetZoomSpeed(uint8_t) override {}
  void SetFocusSpeed(uint8_t) override {}
  void Reset() override { frame_.clear(); }
  std::vector<uint8_t> GetBytes() const override;

 private:
  static constexpr uint8_t kMovementKind = 5;
  static constexpr uint8_t kPresetKind = 7;
  void Header(uint8_t kind);
  void EnsureMovement();
  void SetLensSpeed(uint8_t speed);
  void PresetCommand(uint8_t operation, uint16_t preset);

  std::vector<uint8_t> frame_;
};

// A fresh builder for a protocol number; null for 0 and unknown numbers.
std::unique_ptr<CPTZCommandIf> CreatePTZCommand(uint32_t protocol, uint16_t line);

}  // namespace vantrel
