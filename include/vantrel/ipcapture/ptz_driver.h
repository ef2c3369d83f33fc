// The PTZ driver as the host sees it. Layout is the host's (MSVC): slot 0 is ONE vtable entry,
// the scalar deleting destructor, so these classes declare no C++ destructor; versions only
// append slots. The host never deletes what it gets here: the driver owns every object until
// the driver object is closed.
//
// Results of the PTZ operations: 1 success, -3 bad argument (null pointer, buffer too small,
// invalid name or direction), -18 not open or the command could not be queued, -23 preset not
// found, -26 no free preset slot. Preset names are UTF-16 texts; buffer sizes count wchar_t
// including the terminating zero.
#pragma once

#include <cstdint>

namespace vantrel {

// Filled by GetPTZInfo: eight feature bytes, then the preset capacity and the current count.
struct PTZInfo {
  uint8_t features[8];
  uint32_t presetCapacity;
  uint32_t presetCount;
};
static_assert(sizeof(PTZInfo) == 16, "host layout");

// Result codes of the PTZ operations.
inline constexpr int32_t kPTZSuccess = 1;
inline constexpr int32_t kPTZBadArgument = -3;
inline constexpr int32_t kPTZNotOpen = -18;
inline constexpr int32_t kPTZPresetNotFound = -23;
inline constexpr int32_t kPTZNoFreePreset = -26;

// Directions of StartMove.
enum PTZDirection : uint32_t {
  kPTZLeft = 0,
  kPTZRight = 1,
  kPTZUp = 2,
  kPTZDown = 3,
  kPTZUpLeft = 4,
  kPTZUpRight = 5,
  kPTZDownLeft = 6,
  kPTZDownRight = 7,
  kPTZZoomIn = 8,
  kPTZZoomOut = 9,
  kPTZNoDirection = 10,
};

class IIPPTZApi {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;                             // slot 0
  virtual int32_t IsPTZConfigured() = 0;                                                      // slot 1
  virtual int32_t StartMove(uint32_t direction, uint32_t speed) = 0;                          // slot 2
  virtual int32_t Stop() = 0;                                                                 // slot 3
  virtual int32_t Center(int32_t x, int32_t y, int32_t z) = 0;                                // slot 4
  virtual int32_t ZoomIn(uint32_t speed) = 0;                                                 // slot 5
  virtual int32_t ZoomOut(uint32_t speed) = 0;                                                // slot 6
  virtual int32_t Unzoom(int32_t value) = 0;                                                  // slot 7
  virtual int32_t AreaZoom(int32_t a, int32_t b, int32_t c, int32_t d) = 0;                   // slot 8
  virtual int32_t FocusNear(uint32_t speed) = 0;                                              // slot 9
  virtual int32_t FocusFar(uint32_t speed) = 0;                                               // slot 10
  virtual int32_t IrisOpen(uint32_t speed) = 0;                                               // slot 11
  virtual int32_t IrisClose(uint32_t speed) = 0;                                              // slot 12
  virtual int32_t GetPTZInfo(PTZInfo* info) = 0;                                              // slot 13
  virtual int32_t GetPrepositionCount() = 0;                                                  // slot 14
  virtual int32_t GetPrepositionName(uint32_t position, wchar_t* buffer, uint32_t size) = 0;  // slot 15
  virtual int32_t GoToPreposition(int32_t value, const wchar_t* name) = 0;                    // slot 16
  virtual int32_t AddPreposition(const wchar_t* name) = 0;                                    // slot 17
  virtual int32_t RemovePreposition(const wchar_t* name) = 0;                                 // slot 18
  virtual int32_t GetCurrentPreposition(wchar_t* buffer, uint32_t size) = 0;                  // slot 19

 protected:
  ~IIPPTZApi() = default;
};

class IIPPTZApiEx : public IIPPTZApi {
 public:
  virtual bool SupportsFeature(uint32_t feature) = 0;  // slot 20: true only for 1

 protected:
  ~IIPPTZApiEx() = default;
};

class IIPPTZDriver {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual IIPPTZApi* GetPTZApi(uint32_t channel) = 0;              // slot 1: null when refused

 protected:
  ~IIPPTZDriver() = default;
};

class IIPPTZDriverEx : public IIPPTZDriver {
 public:
  virtual IIPPTZApiEx* GetPTZApiEx(uint32_t channel) = 0;  // slot 2: null when refused

 protected:
  ~IIPPTZDriverEx() = default;
};

}  // namespace vantrel
