// RCP+ over HTTP: every camera setting the driver reads or writes travels as a GET of
// "/rcp.xml" with the command in the query, and comes back as a small XML document.
//
// One CRcpHttp per object that talks to the camera, used by that object's thread; Abort may
// come from any thread, ends the request in progress and fails every later one at once until
// ResetAbort. Writes report a CResultDef (code 0
// on success, 3 bad argument, 9 not sent, 6 HTTP status, 10 unusable reply, 11 camera error);
// reads report the value, with 0 / empty meaning failure, and optionally whether the read
// worked at all (for callers to whom 0 is a valid answer).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "control/http_sender.h"
#include "control/rcp_capability_list.h"
#include "control/rcp_record_list.h"
#include "control/rcp_request_line.h"
#include "control/rcp_xml_reader.h"
#include "control/result_def.h"
#include "core/device_info.h"

namespace vantrel {

class CRcpHttp {
 public:
  // Longest piece of a broken reply quoted in a result message.
  static constexpr size_t kMaxQuotedReply = 1024;

  explicit CRcpHttp(const DEVICE_INFO& device);
  CRcpHttp(const CRcpHttp&) = delete;
  CRcpHttp& operator=(const CRcpHttp&) = delete;

  // Writes.
  CResultDef SendRcpRequestSet(uint16_t command, const std::string& type, const std::string& payload,
                               uint32_t num = 0);
  CResultDef VerifyRcpSetResponse(const std::string& reply, const std::string& type);
  CResultDef SetRcpFlag(uint16_t command, uint32_t value, uint32_t num = 0);
  CResultDef SetRcpOctet(uint16_t command, uint8_t value, uint32_t num = 0);
  CResultDef SetRcpDword(uint16_t command, uint32_t value, uint32_t num = 0);
  CResultDef SetRcpOctets(uint16_t command, const std::vector<uint8_t>& bytes, uint32_t num = 0);

  // Reads. `reply` gets the body followed by one zero byte, as the HTTP helper delivers it.
  bool SendRcpRequestGet(uint16_t command, const std::string& type, std::vector<uint8_t>& reply,
                         uint32_t num = 0);
  // `ok`, when given, tells whether the camera answered without an RCP+ error.
  uint32_t GetRcpFlag(uint16_t command, uint32_t num = 0, bool* ok = nullptr);
  uint32_t GetRcpULong(uint16_t command, bool* ok = nullptr);
  uint32_t GetRcpDwordHex(uint16_t command, uint32_t num = 0, bool* ok = nullptr);
  std::string GetRcpString(uint16_t command, uint32_t num = 0);
  std::vector<uint8_t> GetRcpOctets(uint16_t command, uint32_t num = 0);
  // 0x01F1, instance 1: true when the camera reported no error; `value` is its "dec".
  bool GetRcpPtzOctet(uint32_t& value);
  bool GetRcpCapabilities(RcpCapabilityMasks& capabilities);
  bool GetRcpRecords(RcpRecordMap& records, uint32_t num);

  // Byte messages to the camera head (0x09A5).
  bool ExchangeRcpData(const std::string& payload, std::vector<uint8_t>& reply, uint32_t num = 0);
  bool SendRcpData(const std::string& payload, uint32_t num = 0);

  // Replay sessions. ReadRcpSession is true when the camera answered without an error; the
  // bytes may then be empty (no recordings in the interval).
  bool ReadRcpSession(const std::string& type, const std::string& payload, uint32_t session,
                      std::vector<uint8_t>& bytes);
  bool WriteRcpSession(uint16_t command, const std::string& type, const std::string& payload,
                       uint32_t session);

  // Any thread: ends the request in progress and fails every later one until ResetAbort.
  void Abort() { sender_.Abort(); }
  // The owner, before it talks to the camera again after a stop.
  void ResetAbort() { sender_.ResetAbort(); }
  bool IsAborted() const { return sender_.IsAborted(); }
  // HTTP status of the last request; 0 when the camera did not answer.
  uint32_t GetLastStatusCode() const { return sender_.GetStatusCode(); }
  Web::CHttpSender& GetSender() { return sender_; }
  const DEVICE_INFO& GetDeviceInfo() const { return device_; }

 private:
  // Runs a request and loads its reply; false when nothing usable came back.
  bool Fetch(const std::string& path, CRcpXmlReader& reply);
  std::string CameraName() const;

  DEVICE_INFO device_;
  Web::CHttpSender sender_;
  std::minstd_rand random_;
};

}  // namespace vantrel
