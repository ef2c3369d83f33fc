#include "edgestorage/edge_storage_task.h"

#include <algorithm>
#include <exception>

#include "core/driver_services.h"
#include "edgestorage/base_edge_storage_handler.h"
#include "foundation/filetime_math.h"
#include "foundation/text_format.h"
#include "streaming/sdp_info.h"
#include "vantrel/ipcapture/host_objects.h"
#include "vantrel/ipcapture/video_capture.h"

namespace vantrel {

namespace {

constexpr uint16_t kRcpReplaySessionId = 0x0AE8;
constexpr uint16_t kRcpReplayControl = 0x0902;
constexpr uint16_t kRcpReplaySeek = 0x0905;
constexpr uint16_t kRcpStorage = 0x09D4;
constexpr uint16_t kRcpCameraTime = 0x0A0F;
constexpr char kStopPayload[] = "0";
constexpr char kPlayPayload[] = "0x00000064";
constexpr char kStorageUnavailable[] =
    "%s: Recorded interval (start: %s, end: %s) processing ERROR, storage on device %s is not available or "
    "empty";

std::string Text(uint64_t fileTime) { return FormatLocalTime(fileTime); }

}  // namespace

// ---------------------------------------------------------------------------------------------

CBaseEdgeStorageTask::CBaseEdgeStorageTask(IDriver* driver) : CLoggerInstance(driver), driver_(driver) {}

void CBaseEdgeStorageTask::SetHandler(CBaseEdgeStorageHandler* handler) {
  CScopedLock guard(handlerLock_);
  handler_ = handler;
}

void CBaseEdgeStorageTask::ReleaseHandler(CBaseEdgeStorageHandler* handler) {
  CScopedLock guard(handlerLock_);
  if (handler_ == handler) handler_ = nullptr;
}

bool CBaseEdgeStorageTask::HasHandler() {
  CScopedLock guard(handlerLock_);
  return handler_ != nullptr;
}

void CBaseEdgeStorageTask::TakeItem(uint32_t channel, uint64_t begin, uint64_t end) {
  channel_.store(channel);
  filter_.SetItem(begin, end);
  stopped_.store(false);
  abandonEvent_.Reset();
  BeginRun();
  sessionKey_.store(channel + kSessionKeyBase);
}

void CBaseEdgeStorageTask::AbandonChannel(uint32_t channel) {
  if (channel_.load() != channel) return;
  abandons_.fetch_add(1);
  abandonEvent_.Set();
  AbortRequests();
}

void CBaseEdgeStorageTask::ResumeChannel(uint32_t channel) {
  // Without this the abandon state outlived a quick restart: every later run opened a replay
  // session only to see it and give up, at the rate of the live frames.
  if (channel_.load() == channel && !stopped_.load()) abandonEvent_.Reset();
}

void CBaseEdgeStorageTask::Stop() {
  stopped_.store(true);
  abandons_.fetch_add(1);
  abandonEvent_.Set();
  AbortRequests();
}

bool CBaseEdgeStorageTask::OnFrame(ipcapture::IIPFrame* frame) {
  lastFrameTimer_.Restart();
  // Before the camera plays a recording it may send whatever its replay position holds; such
  // frames have no recording time and must not move the position past the gap.
  if (!frame || !playStarted_.load() || !lastFrameTimed_) return true;
  // Once the channel has gone, its frames can no longer be delivered; moving the position over
  // them would leave them out when the parked item resumes after that position.
  if (IsAbandoned()) return true;
  SYSTEMTIME captured{};
  frame->GetTime(&captured);
  const uint64_t time = SystemTimeToFileTimeValue(captured);
  if (filter_.Take(time, IsCurrentFrameKey()) != CReplayFrameFilter::Verdict::kDeliver) return true;
  return CaptureFrameCallback(frame);
}

bool CBaseEdgeStorageTask::CaptureFrameCallback(ipcapture::IIPFrame* frame) {
  CBaseEdgeStorageHandler* handler = nullptr;
  {
    CScopedLock guard(handlerLock_);
    handler = handler_;
  }
  // The handler outlives every replay session: it stops the queue thread, which closes the
  // session and with it this thread, before it goes.
  if (!handler) return false;
  bool delivered = false;
  try {
    delivered = handler->DeliverReplayedFrame(channel_.load(), frame);
  } catch (...) {
    Log(kLogError, "%s: Unhandled exception during processing frame from device %s",
        "vantrel::CBaseEdgeStorageTask::CaptureFrameCallback", driver_->GetDeviceAddress().c_str());
  }
  return delivered;
}

void CBaseEdgeStorageTask::GetRequestedSize(uint32_t& width, uint32_t& height) {
  width = 0;
  height = 0;
}

std::string CBaseEdgeStorageTask::GetStreamName() { return driver_->GetDriverName() + "::EdgeChannel"; }

void CBaseEdgeStorageTask::GetFrameTime(uint32_t rtpTimestamp, SYSTEMTIME* time) {
  if (!time) return;
  uint64_t value = 0;
  lastFrameTimed_ = timeBase_.FrameTime(rtpTimestamp, value) && FileTimeToSystemTimeValue(value, *time);
  if (!lastFrameTimed_) FileTimeToSystemTimeValue(GetCurrentFileTime(), *time);
}

// ---------------------------------------------------------------------------------------------

CBaseRTSPEdgeStorageTask::CBaseRTSPEdgeStorageTask(IDriver* driver)
    : CBaseEdgeStorageTask(driver),
      rtspClient_(driver),
      parser_(std::make_unique<CH264RTPMediaParser>(driver)) {
  parser_->SetClient(this);
  // A replay seeks and jumps between recordings: holes in the numbering are no losses.
  parser_->SetSequenceCheckOff(true);
}

CBaseRTSPEdgeStorageTask::~CBaseRTSPEdgeStorageTask() { rtspClient_.Disconnect(); }

bool CBaseRTSPEdgeStorageTask::OpenSession() {
  const DEVICE_INFO& device = driver_->GetDeviceInfo();
  RTSPConnectionParams params = RTSPConnectionParams::ForDevice(device, kMediaVideo);
  params.serverPort = 554;
  params.receiveBufferSize = 0x10000;
  params.sendTimeoutMs = 1000;
  params.defaultSessionTimeoutS = 60;
  params.urlPath = FormatText("?h26x=4&rnd=%u&rec=1", sessionKey_.load());
  if (const uint32_t channel = channel_.load(); channel != 0)
    params.urlPath += FormatText("&line=%u", channel + 1);
  parser_->Reset();
  return rtspClient_.Start(params, this, kRtspTransportInterleaved);
}

void CBaseRTSPEdgeStorageTask::AbortRequests() { rtspClient_.AbortConnect(); }

void CBaseRTSPEdgeStorageTask::CloseSession() {
  playStarted_.store(false);
  rtspClient_.Disconnect();
}

bool CBaseRTSPEdgeStorageTask::SdpInfoReceived(const SdpInfo& info) {
  parser_->Reset();
  parser_->SetParameterSets(info.sequenceParameterSet, info.pictureParameterSet, info.configuration);
  return true;
}

void CBaseRTSPEdgeStorageTask::OnInterleavedPacket(const CRTPPacket& packet) {
  dataEvent_.Set();
  try {
    parser_->ProcessPacket(packet);
  } catch (...) {
    // One broken packet must not end the session; the next key frame resynchronises.
  }
}

void CBaseRTSPEdgeStorageTask::OnSessionEnded() { sessionClosedEvent_.Set(); }

bool CBaseRTSPEdgeStorageTask::IsCurrentFrameKey() { return IsH264KeyFrame(parser_->GetFrameBuffer()); }

// ---------------------------------------------------------------------------------------------

CEdgeStorageTask::CEdgeStorageTask(IDriver* driver)
    : CBaseRTSPEdgeStorageTask(driver), rcp_(driver->GetDeviceInfo()), clockRcp_(driver->GetDeviceInfo()) {}

CEdgeStorageTask::~CEdgeStorageTask() { Stop(); }

void CEdgeStorageTask::AbortRequests() {
  rcp_.Abort();
  if (stopped_.load()) clockRcp_.Abort();
  CBaseRTSPEdgeStorageTask::AbortRequests();
}

bool CEdgeStorageTask::WriteSession(uint16_t command, const char* type, const std::string& payload,
                                    uint32_t session) {
  // A request begun after the abort would not see it: the abandon state is checked first.
  if (IsAbandoned()) return false;
  return rcp_.WriteRcpSession(command, type, payload, session);
}

bool CEdgeStorageTask::SyncronizeTime() {
  // Only a stop aborts the clock's requests, and for good: the monitor thread is ending.
  if (stopped_.load()) return false;
  clockRcp_.ResetAbort();
  if (stopped_.load()) clockRcp_.Abort();
  return SetCameraClock(clockRcp_);
}

bool CEdgeStorageTask::SetCameraClock(CRcpHttp& rcp) {
  if (synchronised_.load()) return true;
  SYSTEMTIME now{};
  if (!FileTimeToSystemTimeValue(GetCurrentFileTime(), now)) return false;
  const std::vector<uint8_t> bytes = {
      static_cast<uint8_t>(now.wYear >> 8), static_cast<uint8_t>(now.wYear & 0xFF),
      static_cast<uint8_t>(now.wMonth),     static_cast<uint8_t>(now.wDay),
      static_cast<uint8_t>(now.wHour),      static_cast<uint8_t>(now.wMinute),
      static_cast<uint8_t>(now.wSecond)};
  const CResultDef result = rcp.SetRcpOctets(kRcpCameraTime, bytes, 0);
  if (!result.IsSuccess()) {
    Log(kLogError, "%s: Update camera time failed, device %s", "vantrel::CEdgeStorageTask::SyncronizeTime",
        driver_->GetDeviceAddress().c_str());
    return false;
  }
  synchronised_.store(true);
  return true;
}

int CEdgeStorageTask::CheckStorage() {
  if (IsAbandoned()) return -1;
  const std::vector<uint8_t> bytes = rcp_.GetRcpOctets(kRcpStorage, 0);
  for (uint8_t b : bytes)
    if (b != 0) return 1;
  return rcp_.GetLastStatusCode() != 0 ? 0 : -1;
}

bool CEdgeStorageTask::ProcessTaskItem(uint64_t* position) {
  constexpr char kMethod[] = "vantrel::CEdgeStorageTask::ProcessTaskItem";
  BeginRun();
  // An abandonment from here on aborts this run's requests; one from before is over.
  rcp_.ResetAbort();
  if (IsAbandoned()) rcp_.Abort();
  playStarted_.store(false);
  dataEvent_.Reset();
  sessionClosedEvent_.Reset();
  timeBase_.Clear();
  const std::string address = driver_->GetDeviceAddress();
  const uint64_t begin = filter_.GetPosition();
  const uint64_t end = filter_.GetEnd();
  auto report = [&](bool done) {
    if (position) *position = filter_.GetPosition();
    return done;
  };
  auto answered = [&] { return rcp_.GetLastStatusCode() != 0; };

  const int storage = CheckStorage();
  if (storage == 0) {
    // Without storage there is nothing to replay, ever; the integrator must see why.
    Log(kLogError, kStorageUnavailable, kMethod, Text(begin).c_str(), Text(end).c_str(), address.c_str());
    return report(true);
  }
  if (storage < 0 || IsAbandoned() || !SetCameraClock(rcp_)) {
    CloseSession();
    return report(answered() && !IsAbandoned());
  }
  if (IsAbandoned()) {
    CloseSession();
    return report(false);
  }
  if (!OpenSession()) {
    // The camera answers, yet its replay session does not open: typically its link dropped
    // again right after the reconnection. Ending the item here would lose the gap without a
    // word, so it stays for the handler to retry.
    Log(kLogError, "%s: Recorded interval (start: %s, end: %s) processing ERROR, device %s", kMethod,
        Text(begin).c_str(), Text(end).c_str(), address.c_str());
    CloseSession();
    return report(false);
  }

  CEvent* events[] = {&abandonEvent_, &dataEvent_, &sessionClosedEvent_};
  const int first = CEvent::WaitForEvents(events, 3, kFirstDataWaitMs);
  if (first == 0) {
    // Given up by the handler (channel stopped, shutdown): the item is not done.
    CloseSession();
    return report(false);
  }
  if (first == 2) {
    // The connection went before any frame came: the camera's link, not its storage, failed
    // (a link that drops again right after a reconnection). The item stays for a retry.
    Log(kLogError, "%s: Recorded interval (start: %s, end: %s) processing ERROR, device %s", kMethod,
        Text(begin).c_str(), Text(end).c_str(), address.c_str());
    CloseSession();
    return report(false);
  }
  if (first != 1) {
    Log(kLogError, kStorageUnavailable, kMethod, Text(begin).c_str(), Text(end).c_str(), address.c_str());
    CloseSession();
    return report(true);
  }
  if (!GetStorageIntervals(begin, end)) {
    // A run the channel's stop cut short is no error of the camera.
    if (!IsAbandoned())
      Log(kLogError, "%s: Recorded interval (start: %s, end: %s) processing ERROR, device %s", kMethod,
          Text(begin).c_str(), Text(end).c_str(), address.c_str());
    CloseSession();
    return report(false);
  }
  CloseSession();
  return report(answered() && !IsAbandoned());
}

bool CEdgeStorageTask::GetStorageIntervals(uint64_t begin, uint64_t end) {
  constexpr char kMethod[] = "vantrel::CEdgeStorageTask::GetStorageIntervals";
  const std::string address = driver_->GetDeviceAddress();
  if (IsAbandoned()) return false;
  const uint32_t session = rcp_.GetRcpDwordHex(kRcpReplaySessionId, sessionKey_.load());
  if (session == 0 && !IsAbandoned()) {
    Log(kLogError, "%s: Session id for play interval (start: %s, end: %s) is 0, device %s", kMethod,
        Text(begin).c_str(), Text(end).c_str(), address.c_str());
    return false;
  }
  if (!WriteSession(kRcpReplayControl, kRcpTypeInt, kStopPayload, session) || IsAbandoned()) {
    Log(kLogError, "%s: Stop RTSP session for interval (start: %s, end: %s) ERROR, device %s", kMethod,
        Text(begin).c_str(), Text(end).c_str(), address.c_str());
    return false;
  }
  const std::string payload = FormatText("0x%.4X%.4X0000099900000000", FileTimeToSecondsSince2000(begin),
                                         FileTimeToSecondsSince2000(end));
  std::vector<uint8_t> bytes;
  const bool listed = !IsAbandoned() && rcp_.ReadRcpSession(kRcpTypeOctets, payload, session, bytes);
  if (!listed || IsAbandoned()) {
    Log(kLogError, "%s: Parse files info for interval (start: %s, end: %s) ERROR, device %s", kMethod,
        Text(begin).c_str(), Text(end).c_str(), address.c_str());
    return false;
  }
  recordings_ = ParseRecordingList(bytes);
  for (const RecordedInterval& r : recordings_)
    Log(kLogInfo, "%s: Recorded interval (start: %s, end: %s), device %s",
        "vantrel::CEdgeStorageTask::PrintFileInfo", Text(r.start).c_str(), Text(r.end).c_str(),
        address.c_str());
  return ProcessFiles(session) && !IsAbandoned();
}

bool CEdgeStorageTask::ProcessFiles(uint32_t session) {
  constexpr char kMethod[] = "vantrel::CEdgeStorageTask::ProcessFiles";
  const std::string address = driver_->GetDeviceAddress();
  for (const RecordedInterval& r : recordings_) {
    if (IsAbandoned()) return false;
    // Nothing in a recording that ends where the host already is, or that starts after the
    // gap, can reach the host.
    if (r.end <= filter_.GetPosition() || r.start >= filter_.GetEnd()) continue;
    bool ok = WriteSession(kRcpReplayControl, kRcpTypeInt, kStopPayload, session);
    // Frames of the previous recording still on their way would otherwise be timed from this
    // recording's start, and a timestamp out of its sequence freezes or scatters the times.
    WaitForQuietStream();
    timeBase_.Start(r.start);
    filter_.StartRecording();
    ok = ok && WriteSession(kRcpReplaySeek, kRcpTypeOctets,
                            FormatText("0x%.4X", FileTimeToSecondsSince2000(r.start)), session);
    playStarted_.store(true);
    ok = ok && WriteSession(kRcpReplayControl, kRcpTypeInt, kPlayPayload, session);
    if (!ok) {
      Log(kLogError, "%s: Prepare for play interval (start: %s, end: %s) ERROR, device %s", kMethod,
          Text(r.start).c_str(), Text(r.end).c_str(), address.c_str());
      return false;
    }
    Log(kLogInfo, "%s: Play interval (start: %s, end: %s), device %s", kMethod, Text(r.start).c_str(),
        Text(r.end).c_str(), address.c_str());
    if (!WaitFileProcessing(r.end)) {
      if (IsAbandoned()) return false;
      Log(kLogError, "%s: Play interval (start: %s, end: %s) ERROR, device %s", kMethod,
          Text(r.start).c_str(), Text(r.end).c_str(), address.c_str());
      return false;
    }
  }
  return true;
}

void CEdgeStorageTask::WaitForQuietStream() {
  const uint64_t started = GetCurrentFileTime();
  do {
    dataEvent_.Reset();
    if (!dataEvent_.Wait(kQuietStreamMs)) return;
  } while (!IsAbandoned() && ElapsedMsSince(started) < kMaxQuietWaitMs);
}

bool CEdgeStorageTask::WaitFileProcessing(uint64_t end) {
  constexpr char kMethod[] = "vantrel::CEdgeStorageTask::WaitFileProcessing";
  const uint32_t signalTimeout = driver_->GetDeviceInfo().signalTimeout;
  progressTimer_.Restart();
  lastFrameTimer_.Restart();
  uint64_t lastPosition = filter_.GetPosition();
  // The camera has played the recording when its stream ends this close to the listed end.
  auto endedByCamera = [&](uint64_t position) {
    const uint64_t last = std::min(end, filter_.GetEnd());
    return position < last && last - position <= uint64_t{kEndToleranceMs} * kFileTimeTicksPerMs;
  };
  for (;;) {
    if (IsAbandoned()) return false;
    const uint64_t position = filter_.GetPosition();
    // Frames that never move the position (repeats, timestamps out of sequence) are no
    // progress: without this, such a stream would hold the queue forever.
    if (position != lastPosition) {
      lastPosition = position;
      progressTimer_.Restart();
    }
    // Past the gap's end nothing more is delivered: waiting for the rest of the recording
    // would only hold the queue up.
    if (position >= end || position >= filter_.GetEnd()) return true;
    const bool closed = sessionClosedEvent_.IsSet();
    if ((closed || lastFrameTimer_.ElapsedMs() > kEndQuietMs) && endedByCamera(position)) {
      Log(kLogInfo, "%s: Play interval ended by the camera at %s, device %s", kMethod, Text(position).c_str(),
          driver_->GetDeviceAddress().c_str());
      return true;
    }
    if (lastFrameTimer_.ElapsedMs() > signalTimeout || progressTimer_.ElapsedMs() > signalTimeout) {
      Log(kLogError, "%s: Play interval ERROR, signal timeout, device %s", kMethod,
          driver_->GetDeviceAddress().c_str());
      return false;
    }
    if (closed) {
      Log(kLogError, "%s: Play interval ERROR, RTSP session was closed, device %s", kMethod,
          driver_->GetDeviceAddress().c_str());
      return false;
    }
    abandonEvent_.Wait(kPlayPollMs);
  }
}

}  // namespace vantrel
