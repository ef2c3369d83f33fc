#include "capabilities/privacy_zone_handler.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "control/rcp_http.h"
#include "core/driver_services.h"
#include "vantrel/ipcapture/privacy_zones.h"

namespace vantrel {

namespace {

// The zone registers travel as camera-head messages inside 0x09A5: "81 00 04 03", then the
// zone in the high nibble and the field in the low nibble, then 01 (read) or 03 (write).
constexpr char kZoneMessage[] = "0x81000403";

// Register read suffixes in field order: enabled, left, top, right, bottom.
constexpr const char* kReadSuffixes[] = {"001", "101", "201", "301", "401"};

// A read reply carries the register's value in its eighth byte.
constexpr size_t kReplyValueIndex = 7;

}  // namespace

CPrivacyZoneHandler::CPrivacyZoneHandler(IDriver* driver, uint32_t line)
    : CLoggerInstance(driver),
      range_(driver && driver->GetVideoStandard() ? kRowsNtsc : kRowsPal),
      driver_(driver),
      line_(line),
      rcp_(std::make_unique<CRcpHttp>(driver ? driver->GetDeviceInfo() : DEVICE_INFO{})) {
  for (uint32_t i = 0; i < kZoneCount; ++i) zones_[i].id = i;
}

CPrivacyZoneHandler::~CPrivacyZoneHandler() = default;

uint32_t CPrivacyZoneHandler::ToGrid(double percent, uint32_t cells) {
  // Converting NaN or an out-of-range double to an integer is undefined; a host rectangle that
  // sticks out of the picture is meant as "up to the edge".
  if (!(percent > 0.0)) percent = 0.0;
  if (percent > 100.0) percent = 100.0;
  return static_cast<uint32_t>(percent / 100.0 * cells + 0.5) + 1;
}

void CPrivacyZoneHandler::SetZones(ipcapture::IIPZoneList* list) {
  if (!list) return;
  hostListSeen_ = true;
  for (uint32_t i = 0; i < kZoneCount; ++i) {
    ipcapture::IIPZone* zone = list->GetZone(i);
    if (!zone) {
      // Past the host's list: the zone is no longer wanted.
      for (uint32_t rest = i; rest < kZoneCount; ++rest) zones_[rest].wanted = ZoneState();
      break;
    }
    const float x = zone->GetX();
    const float y = zone->GetY();
    // The host's own arithmetic adds in single precision; matching it keeps edge cells the same.
    const float xEnd = x + zone->GetWidth();
    const float yEnd = y + zone->GetHeight();
    ZoneState& wanted = zones_[i].wanted;
    wanted.enabled = 1;
    wanted.left = ToGrid(x, kColumns);
    wanted.top = ToGrid(y, range_ - 1);
    wanted.right = ToGrid(xEnd, kColumns);
    wanted.bottom = ToGrid(yEnd, range_ - 1);
  }
}

bool CPrivacyZoneHandler::ReadZone(Zone& zone) {
  uint32_t values[5] = {};
  for (size_t field = 0; field < 5; ++field) {
    char payload[48];
    std::snprintf(payload, sizeof(payload), "%s%u%s", kZoneMessage, zone.id, kReadSuffixes[field]);
    std::vector<uint8_t> reply;
    if (!rcp_->ExchangeRcpData(payload, reply, line_ + 1)) return false;
    if (reply.size() <= kReplyValueIndex) return false;
    values[field] = reply[kReplyValueIndex];
  }
  zone.camera.enabled = values[0] != 0 ? 1 : 0;
  zone.camera.left = values[1];
  zone.camera.top = values[2];
  zone.camera.right = values[3];
  zone.camera.bottom = values[4];
  return true;
}

bool CPrivacyZoneHandler::ReadZones() {
  for (uint32_t i = 0; i < kZoneCount; ++i) {
    if (ReadZone(zones_[i])) continue;
    const std::string device = driver_ ? driver_->GetDeviceAddress() : std::string();
    Log(kLogWarning, "Can't receive privacy zone %u info, device: %s ", i + 1, device.c_str());
    return false;
  }
  return true;
}

bool CPrivacyZoneHandler::WriteZone(uint32_t id, const ZoneState& w) {
  char payloads[5][48];
  std::snprintf(payloads[0], sizeof(payloads[0]), "%s%u003000%d", kZoneMessage, id, w.enabled ? 1 : 0);
  std::snprintf(payloads[1], sizeof(payloads[1]), "%s%u103%.4X", kZoneMessage, id, w.left);
  std::snprintf(payloads[2], sizeof(payloads[2]), "%s%u203%.4X", kZoneMessage, id, w.top);
  std::snprintf(payloads[3], sizeof(payloads[3]), "%s%u303%.4X", kZoneMessage, id, w.right);
  std::snprintf(payloads[4], sizeof(payloads[4]), "%s%u403%.4X", kZoneMessage, id, w.bottom);
  for (const char* payload : payloads) {
    if (!rcp_->SendRcpData(payload, line_ + 1)) return false;
  }
  return true;
}

void CPrivacyZoneHandler::Abort() {
  if (rcp_) rcp_->Abort();
}

void CPrivacyZoneHandler::ResetAbort() {
  if (rcp_) rcp_->ResetAbort();
}

void CPrivacyZoneHandler::ApplyZones() {
  // A failed read leaves the earlier camera state; writing against it is still the best guess.
  ReadZones();
  if (!hostListSeen_) return;
  for (uint32_t i = 0; i < kZoneCount; ++i) {
    const Zone& zone = zones_[i];
    if (!zone.wanted.enabled && !zone.camera.enabled) continue;
    if (zone.wanted == zone.camera) continue;
    // A released zone keeps the camera's rectangle; only its switch changes.
    ZoneState write = zone.wanted;
    if (!write.enabled) {
      write = zone.camera;
      write.enabled = 0;
    }
    if (WriteZone(zone.id, write)) continue;
    const std::string device = driver_ ? driver_->GetDeviceAddress() : std::string();
    Log(kLogWarning, "Can't set privacy zone %u info, device: %s ", i + 1, device.c_str());
    return;
  }
}

}  // namespace vantrel
