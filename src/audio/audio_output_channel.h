// Audio output to a camera: G.711 samples of the host, enabled over RCP+ and sent through our
// RCP+ streaming library in 80 ms packets.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/audio_format.h"
#include "audio/base_audio_output_channel.h"
#include "channels/rcp_stream_receiver.h"
#include "control/rcp_http.h"
#include "core/device_info.h"
#include "foundation/time_value.h"

namespace vantrel {

// The 16-byte format block shared with the capture side: tag (four characters in memory
// order), sample rate, bit rate, bits per sample, channels, zero.

class CAudioOutputChannel : public CBaseAudioOutputChannel {
 public:
  static constexpr uint16_t kRcpAudioEnable = 0x000C;

  CAudioOutputChannel(IDriver* driver, uint32_t channel, uint32_t hostChannelIndex,
                      ipcapture::IIPAudioStatusCallback* callback, ipcapture::IIPAudioFormatList* formats);
  ~CAudioOutputChannel() override;

  bool Start() override;
  bool GetAudioFormat(ipcapture::IIPAudioFormat* format) override;
  uint32_t FormatTag() const;

 protected:
  bool EnableAudio() override;
  bool IsEntryUsable(ipcapture::IIPAudioFormatEntry* entry) override;
  bool FrameMatchesFormat(ipcapture::IIPAudioFrame* frame) override;
  bool SendFrame(ipcapture::IIPAudioFrame* frame) override;
  void DisconnectStreamer() override;
  void AbortCamera() override;
  bool CanConnect() override { return !httpsOnly_.load(); }
  // The camera answered RCP+ only over HTTPS (`secure`): logs it once and gives up for good.
  bool RefuseSecureTransport(bool secure);

 private:
  DEVICE_INFO device_;
  CRcpStreamReceiver receiver_;  // used on the channel thread, and by Stop after it ended
  CRcpHttp rcp_;
  CTime liveness_;
  const AudioFormatBlock format_;
  // The camera answers RCP+ over HTTPS only; the streaming connection has no TLS, so audio can
  // never go out: logged once, never retried.
  std::atomic<bool> httpsOnly_{false};
  // The camera's refusal of the audio stream was logged; a retry every few seconds must not
  // repeat it until a connect succeeds again.
  std::atomic<bool> refusalLogged_{false};
};

}  // namespace vantrel
