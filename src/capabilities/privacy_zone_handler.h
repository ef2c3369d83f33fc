// Privacy zones of one camera line. The camera masks them itself on a grid of 83 columns and
// 54 (NTSC) or 58 (PAL) rows; the host gives rectangles in percent of the picture. The handler
// keeps what the host wants and what the camera last reported, and writes only zones that
// differ, because every zone costs five round trips and cameras apply each field at once.
//
// The list the host hands over is its whole privacy configuration for the line (it has no other
// way to say "remove" than to hand a shorter list), so a zone missing from it is released on the
// camera. Until the host has handed a list the camera's own zones are left as they are: we know
// nothing the camera does not.
//
// Threads: SetZones runs on the host thread that starts the channel, ApplyZones on the channel
// worker; the channel never runs both at once, so the handler takes no lock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "core/logger_instance.h"

namespace vantrel {

namespace ipcapture {
class IIPZoneList;
}
class CRcpHttp;
class IDriver;

class CPrivacyZoneHandler : public CLoggerInstance {
 public:
  static constexpr uint32_t kZoneCount = 4;
  static constexpr uint32_t kColumns = 83;
  static constexpr uint32_t kRowsNtsc = 54;
  static constexpr uint32_t kRowsPal = 58;

  struct ZoneState {
    uint8_t enabled = 0;
    uint32_t left = 0;
    uint32_t top = 0;
    uint32_t right = 0;
    uint32_t bottom = 0;

    bool operator==(const ZoneState&) const = default;
  };

  struct Zone {
    uint32_t id = 0;
    ZoneState wanted;
    ZoneState camera;
  };

  // `driver` is borrowed and outlives the handler (it owns the channel that owns us).
  CPrivacyZoneHandler(IDriver* driver, uint32_t line);
  ~CPrivacyZoneHandler() override;

  void SetZones(ipcapture::IIPZoneList* list);
  void ApplyZones();
  // Any thread: ends the zone request in flight and fails the rest at once until ResetAbort.
  void Abort();
  void ResetAbort();

  // Grid cell (1-based) of a percentage along an axis with `cells` steps. Out-of-range or NaN
  // percentages are clamped, so a bad host rectangle cannot turn into a wrapped-around cell
  // number that the camera would take for a different place.
  static uint32_t ToGrid(double percent, uint32_t cells);

  uint32_t GetRange() const { return range_; }
  const Zone& GetZone(uint32_t index) const { return zones_[index]; }

 private:
  bool ReadZones();
  bool ReadZone(Zone& zone);
  bool WriteZone(uint32_t id, const ZoneState& state);

  const uint32_t range_;
  IDriver* const driver_;  // borrowed: see the constructor
  const uint32_t line_;
  std::unique_ptr<CRcpHttp> rcp_;
  std::array<Zone, kZoneCount> zones_;
  bool hostListSeen_ = false;
};

}  // namespace vantrel
