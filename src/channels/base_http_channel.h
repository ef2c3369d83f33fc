// Live pictures fetched one request at a time over HTTP: the polling loop, its signal-loss rule
// and the wait after a loss. A derived class says how one picture is fetched.
//
// Threads: the worker runs Run and everything it calls (fetch, parse, delivery); the host thread
// only sets the stop event, and Interrupt closes the request in progress so a stop never waits
// for a slow camera longer than the sender needs to notice.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channels/base_camera_channel.h"
#include "control/http_sender.h"
#include "streaming/jpeg_media_parser.h"
#include "streaming/media_parser_client.h"

namespace vantrel {

class CBaseHttpChannel : public CBaseCameraChannel, public IMediaParserClient {
 public:
  // Wait between rounds once the signal is lost.
  static constexpr uint32_t kLostRetryMs = 5000;

  // `driver` and `callback` are borrowed; see CBaseCameraChannel.
  CBaseHttpChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  ~CBaseHttpChannel() override;

  // IMediaParserClient
  bool OnFrame(ipcapture::IIPFrame* frame) override;
  void GetRequestedSize(uint32_t& width, uint32_t& height) override;
  std::string GetStreamName() override;
  void GetFrameTime(uint32_t rtpTimestamp, SYSTEMTIME* time) override;

  // Milliseconds between pictures for a host frame-rate code: "0x7nnn" carries frames per
  // second and 0 means one a second; any other value already is the period in milliseconds.
  static uint32_t FrameIntervalMs(uint32_t frameRateCode);
  // The time without a picture after which the signal counts as lost: a period above a second
  // is its own limit, shorter ones use the device's signal time-out.
  static uint32_t SignalLossMs(uint32_t frameRateCode, uint32_t signalTimeoutMs);

 protected:
  void Run() override;
  void Interrupt() override;
  void Rearm() override;
  // One picture into `buffer`; true when the camera answered with a body.
  virtual bool FetchSnapshot(std::vector<uint8_t>& buffer) = 0;
  // Called at the start of every round, before polling.
  virtual void BeginRound() {}

  bool IsSignalLost();
  Web::CHttpSender& GetSender() { return sender_; }

 private:
  // True when the stop event was seen.
  bool Poll();

  Web::CHttpSender sender_;
  std::unique_ptr<CJpegMediaParser> parser_;  // null when it could not be made
};

}  // namespace vantrel
