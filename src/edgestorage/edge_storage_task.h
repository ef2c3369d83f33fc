// Replays one gap of one channel from the camera's own recordings into the host: checks the
// storage, sets the camera's clock, opens an RTSP replay session (RTP interleaved on the RTSP
// connection), asks over RCP+ which recordings cover the gap and plays each from its start,
// handing the host only the frames it lacks.
//
// Threads: the handler's queue thread runs ProcessTaskItem; replayed packets arrive on the RTSP
// client thread (which also runs the parser and the frame path); AbandonChannel, ResumeChannel
// and Stop come from channel, host and shutdown threads and abort the requests in flight;
// SyncronizeTime also runs on the handler's monitor thread, with an HTTP client of its own, so
// no lock is held while either waits on the camera.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channels/camera_channel.h"
#include "control/rcp_http.h"
#include "core/logger_instance.h"
#include "edgestorage/edge_storage_task_item.h"
#include "edgestorage/replay_frame_filter.h"
#include "foundation/event.h"
#include "foundation/recursive_lock.h"
#include "foundation/time_value.h"
#include "streaming/base_rtsp_client.h"
#include "streaming/h264_rtp_media_parser.h"
#include "streaming/media_parser_client.h"
#include "streaming/rtsp_stream_parser.h"

namespace vantrel {

class IDriver;
class CBaseEdgeStorageHandler;

// The item, the frame filter and the time base, and delivery to the channel's host callback.
class CBaseEdgeStorageTask : public CLoggerInstance, public IEdgeStorageTask, public IMediaParserClient {
 public:
  static constexpr uint32_t kSessionKeyBase = 900;

  // `driver` is borrowed and outlives the task.
  explicit CBaseEdgeStorageTask(IDriver* driver);
  ~CBaseEdgeStorageTask() override = default;

  // The handler whose channel callbacks get the replayed frames; borrowed until released.
  void SetHandler(CBaseEdgeStorageHandler* handler);
  // Forgets `handler` if it is the one linked (the handler is going away).
  void ReleaseHandler(CBaseEdgeStorageHandler* handler);
  bool HasHandler();

  // IEdgeStorageTask
  void TakeItem(uint32_t channel, uint64_t begin, uint64_t end) override;
  void AbandonChannel(uint32_t channel) override;
  void ResumeChannel(uint32_t channel) override;
  void Stop() override;

  // IMediaParserClient, on the RTSP client thread.
  bool OnFrame(ipcapture::IIPFrame* frame) override;
  void GetRequestedSize(uint32_t& width, uint32_t& height) override;
  std::string GetStreamName() override;
  void GetFrameTime(uint32_t rtpTimestamp, SYSTEMTIME* time) override;

  uint32_t GetDeliveredFrameCount() { return filter_.GetFrameCount(); }

 protected:
  // Whether the access unit being delivered is a key frame (asked from inside OnFrame).
  virtual bool IsCurrentFrameKey() = 0;
  bool CaptureFrameCallback(ipcapture::IIPFrame* frame);
  // True once the current run must end: the channel went (even if it is back already) or the
  // handler stops. A run that met a channel restart replays what it skipped at the next run.
  bool IsAbandoned() { return abandonEvent_.IsSet() || abandons_.load() != runAbandons_.load(); }
  // Marks the start of a run: abandonments before it no longer end it.
  void BeginRun() { runAbandons_.store(abandons_.load()); }
  // Breaks off what the queue thread waits for on the camera (requests, the replay session).
  virtual void AbortRequests() {}

  IDriver* const driver_;
  std::atomic<uint32_t> channel_{0};
  std::atomic<uint32_t> sessionKey_{kSessionKeyBase};
  CReplayFrameFilter filter_;
  CReplayTimeBase timeBase_;
  CTime lastFrameTimer_;
  CManualEvent abandonEvent_;
  std::atomic<uint32_t> abandons_{0};     // every abandonment and stop counts one
  std::atomic<uint32_t> runAbandons_{0};  // abandons_ when the current run began
  std::atomic<bool> stopped_{false};
  // Set once the camera was told to play a recording: only then do frames carry its times.
  std::atomic<bool> playStarted_{false};

 private:
  CRecursiveLock handlerLock_;
  CBaseEdgeStorageHandler* handler_ = nullptr;  // guarded by handlerLock_
  bool lastFrameTimed_ = false;                 // RTSP client thread only
};

// The replay session: RTSP with RTP interleaved, and the H.264 depacketizer.
class CBaseRTSPEdgeStorageTask : public CBaseEdgeStorageTask, public IRTSPClientUser {
 public:
  explicit CBaseRTSPEdgeStorageTask(IDriver* driver);
  ~CBaseRTSPEdgeStorageTask() override;

  // IRTSPClientUser, on the RTSP client thread.
  bool SdpInfoReceived(const SdpInfo& info) override;
  void OnInterleavedPacket(const CRTPPacket& packet) override;
  void OnSessionEnded() override;

 protected:
  bool OpenSession();
  void CloseSession();
  bool IsCurrentFrameKey() override;
  void AbortRequests() override;

  CManualEvent dataEvent_;
  CManualEvent sessionClosedEvent_;

 private:
  CBaseRTSPClient rtspClient_;
  std::unique_ptr<CH264RTPMediaParser> parser_;  // used on the RTSP client thread while a session runs
};

class CEdgeStorageTask : public CBaseRTSPEdgeStorageTask {
 public:
  static constexpr uint32_t kFirstDataWaitMs = 3000;
  static constexpr uint32_t kPlayPollMs = 200;
  // After a stop, the stream counts as quiet once nothing came for this long.
  static constexpr uint32_t kQuietStreamMs = 300;
  static constexpr uint32_t kMaxQuietWaitMs = 3000;
  // A camera ends the replay of a recording a little before its listed end (the list has whole
  // seconds, the last frame may lie up to a frame interval before that): a stream that stops
  // or closes this close to the end has played the whole recording.
  static constexpr uint32_t kEndToleranceMs = 2000;
  static constexpr uint32_t kEndQuietMs = 2000;

  explicit CEdgeStorageTask(IDriver* driver);
  ~CEdgeStorageTask() override;

  bool ProcessTaskItem(uint64_t* position) override;
  bool SyncronizeTime() override;
  bool LastRunAnswered() override { return rcp_.GetLastStatusCode() != 0; }

 private:
  // 1 present, 0 absent, -1 the camera did not say.
  int CheckStorage();
  bool GetStorageIntervals(uint64_t begin, uint64_t end);
  bool ProcessFiles(uint32_t session);
  bool WaitFileProcessing(uint64_t end);
  void WaitForQuietStream();
  bool WriteSession(uint16_t command, const char* type, const std::string& payload, uint32_t session);
  bool SetCameraClock(CRcpHttp& rcp);
  void AbortRequests() override;

  CRcpHttp rcp_;                              // queue thread; Abort from any thread
  CRcpHttp clockRcp_;                         // SyncronizeTime from the monitor thread; Abort from any thread
  std::vector<RecordedInterval> recordings_;  // queue thread
  std::atomic<bool> synchronised_{false};
  CTime progressTimer_;  // restarted when a replayed frame moves the position; queue thread
};

}  // namespace vantrel
