// A PTZ command waiting for the channel's queue thread, and the lens state of the control it
// came from (which the thread reads and updates when it switches focus or iris modes).
#pragma once

#include <cstdint>

namespace vantrel {

class IIPParams {
 public:
  virtual ~IIPParams() = default;
  virtual uint32_t GetChannel() = 0;
  virtual bool IsManualIris() = 0;
  virtual void SetManualIris(bool manual) = 0;
  virtual bool IsManualFocus() = 0;
  virtual void SetManualFocus(bool manual) = 0;
};

enum PTZItemKind : uint32_t {
  kPTZItemMove = 1,
  kPTZItemFocus = 2,
  kPTZItemIris = 3,
  kPTZItemStop = 4,
  kPTZItemAreaZoom = 5,
  kPTZItemCenter = 6,
  kPTZItemUnzoom = 7,
};

enum PTZItemSubKind : uint32_t {
  kPTZFocusFar = 1,
  kPTZFocusNear = 2,
  kPTZIrisOpen = 3,
  kPTZIrisClose = 4,
  kPTZStopMovement = 5,
  kPTZStopFocus = 6,
  kPTZStopIris = 7,
};

class CPTZItem {
 public:
  CPTZItem(uint32_t kind, uint32_t subKind, IIPParams* params, uint32_t d0 = 0, uint32_t d1 = 0,
           uint32_t d2 = 0, uint32_t d3 = 0)
      : kind(kind), subKind(subKind), params(params), data{d0, d1, d2, d3} {}
  virtual ~CPTZItem() = default;

  uint32_t kind;
  uint32_t subKind;
  IIPParams* params;  // the control that queued it; it stops the queue before it goes
  uint32_t data[4];   // move: speed, direction; focus, iris: speed
};

}  // namespace vantrel
