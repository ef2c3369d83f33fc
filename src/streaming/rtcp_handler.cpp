#include "streaming/rtcp_handler.h"

#include <windows.h>

#include "core/driver_services.h"
// After windows.h, which they build on.
#include <mmsystem.h>
#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace vantrel {

namespace {

// SSRCs must differ between the receivers a camera sees; a GUID is unique enough, and the
// pseudo-random fallback at least differs between runs.
uint32_t NewSsrc() {
  GUID guid{};
  uint32_t ssrc = 0;
  if (SUCCEEDED(CoCreateGuid(&guid))) std::memcpy(&ssrc, &guid, sizeof(ssrc));
  if (ssrc == 0) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    ssrc = (static_cast<uint32_t>(std::rand() & 0x7FFF) << 17) ^
           (static_cast<uint32_t>(std::rand() & 0x7FFF) << 2) ^ static_cast<uint32_t>(std::rand() & 0x3);
  }
  return ssrc;
}

}  // namespace

CRTCPHandler::CRTCPHandler(IDriver* driver) : CBaseThread(driver), client_(driver) {}

CRTCPHandler::~CRTCPHandler() { Stop(); }

void CRTCPHandler::SetUser(IRTCPHandlerUser* user) { user_.store(user); }

bool CRTCPHandler::Start(uint32_t senderAddress, uint16_t port) {
  return StartWith(senderAddress, nullptr, port, 0);
}

bool CRTCPHandler::StartMulticast(uint32_t senderAddress, const char* group, uint16_t port,
                                  uint32_t interfaceAddress) {
  if (!group) return false;
  return StartWith(senderAddress, group, port, interfaceAddress);
}

bool CRTCPHandler::StartWith(uint32_t senderAddress, const char* group, uint16_t port,
                             uint32_t interfaceAddress) {
  if (client_.IsOpen() || senderAddress == 0) return false;
  Reset();
  // Known before the socket opens, so a sender report arriving at once is not dropped.
  senderAddress_.store(senderAddress);
  const bool opened =
      group ? client_.OpenMulticast(this, group, port, interfaceAddress) : client_.Open(this, port);
  if (!opened) return false;
  client_.SetReceiveSize(kReceiveSize);
  client_.SetSelectTimeout(kSelectTimeoutMs);
  if (!StartThread("RTCP Handler Thread")) {
    client_.Close();
    return false;
  }
  return true;
}

void CRTCPHandler::Reset() {
  const uint32_t ssrc = NewSsrc();
  CScopedLock guard(lock_);
  senderReportSeen_ = false;
  arrivalKnown_ = false;
  lastReportArrivalMs_ = 0;
  std::memset(&reportAddress_, 0, sizeof(reportAddress_));
  sequence_.Clear();
  ownSsrc_ = ssrc;
  senderSsrc_ = 0;
  lsr_ = 0;
  versionBits_ = 0;
}

void CRTCPHandler::Stop() {
  GetStopEvent().Set();
  bool sayBye = false;
  uint8_t versionBits = 0;
  uint32_t ownSsrc = 0;
  {
    CScopedLock guard(lock_);
    sayBye = senderReportSeen_;
    versionBits = versionBits_;
    ownSsrc = ownSsrc_;
  }
  if (sayBye) {
    const auto bye = rtcp::BuildBye(versionBits, ownSsrc);
    SendToReportAddress(bye.data(), static_cast<uint32_t>(bye.size()));
  }
  {
    CScopedLock guard(lock_);
    senderReportSeen_ = false;
  }
  client_.Close();
  StopThread(kStopTimeoutMs);
}

void CRTCPHandler::UpdateSequence(uint16_t sequenceNumber) {
  CScopedLock guard(lock_);
  sequence_.Update(sequenceNumber);
}

uint16_t CRTCPHandler::GetPort() { return client_.GetPort(); }

uint32_t CRTCPHandler::GetOwnSsrc() {
  CScopedLock guard(lock_);
  return ownSsrc_;
}

void CRTCPHandler::DatagramReceived(IRTPClient*, const sockaddr_in* sender, const uint8_t* data,
                                    uint32_t length) {
  // Anyone can send to our port; only the camera's reports count (any port of it).
  if (!sender || !data || length < rtcp::kHeaderSize) return;
  const uint32_t from = sender->sin_addr.s_addr;
  if (from != senderAddress_.load() && (from == 0 || from != sourceAddress_.load())) return;
  rtcp::CCompoundReader reader(std::span<const uint8_t>(data, length));
  rtcp::PacketView packet;
  while (reader.Next(packet)) {
    if (packet.type == rtcp::kTypeSenderReport) {
      auto report = rtcp::ReadSenderReport(packet);
      if (!report) continue;
      {
        CScopedLock guard(lock_);
        if (!senderReportSeen_) {
          reportAddress_ = *sender;
          senderReportSeen_ = true;
        }
        versionBits_ = report->versionBits;
        senderSsrc_ = report->senderSsrc;
        lsr_ = report->lsr;
        lastReportArrivalMs_ = timeGetTime();
        arrivalKnown_ = true;
      }
      reportEvent_.Set();
      if (IRTCPHandlerUser* user = user_.load())
        user->RTCPSenderReportReceived(report->ntp, report->rtpTimestamp);
    } else if (packet.type == rtcp::kTypeBye) {
      bool seen = false;
      {
        CScopedLock guard(lock_);
        seen = senderReportSeen_;
        senderReportSeen_ = false;
      }
      IRTCPHandlerUser* user = user_.load();
      if (seen && user) user->RTCPByeReceived();
    }
  }
}

void CRTCPHandler::ThreadProc() {
  CEvent* events[] = {&GetStopEvent(), &reportEvent_};
  for (;;) {
    const int woken = WaitForEvents(events, 2, kReportWaitMs);
    if (woken == 0) break;
    if (woken == 1) {
      // Reset before answering: a sender report that arrives while this one is answered sets
      // the event again and gets its own answer. Reset after it would erase that report, and a
      // camera that takes receiver reports as keep-alives would end the session.
      reportEvent_.Reset();
      SendReceiverReport();
    }
  }
}

void CRTCPHandler::SendReceiverReport() {
  rtcp::ReceiverReportFields fields;
  {
    CScopedLock guard(lock_);
    if (!senderReportSeen_) return;
    fields.versionBits = versionBits_;
    fields.ownSsrc = ownSsrc_;
    fields.senderSsrc = senderSsrc_;
    fields.extendedHighest = sequence_.ExtendedHighest();
    fields.lsr = lsr_;
    fields.dlsr = arrivalKnown_ ? rtcp::DelaySinceLastReport(timeGetTime() - lastReportArrivalMs_) : 0;
  }
  const auto report = rtcp::BuildReceiverReport(fields);
  SendToReportAddress(report.data(), static_cast<uint32_t>(report.size()));
}

bool CRTCPHandler::SendToReportAddress(const uint8_t* data, uint32_t length) {
  sockaddr_in address;
  {
    CScopedLock guard(lock_);
    address = reportAddress_;
  }
  if (client_.Send(address, data, length)) return true;
  CScopedLock guard(lock_);
  senderReportSeen_ = false;
  return false;
}

}  // namespace vantrel
