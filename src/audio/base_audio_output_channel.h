// An audio output channel: a queue thread that carries out the host's frames and its own
// connect and reconnect requests one by one, so the host's thread only ever queues.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "audio/audio_channel_status.h"
#include "foundation/callback_gate.h"
#include "foundation/event.h"
#include "foundation/queue_thread.h"
#include "foundation/recursive_lock.h"

namespace vantrel {

class IDriver;
namespace ipcapture {
class IIPAudioFrame;
class IIPAudioFormat;
class IIPAudioFormatEntry;
class IIPAudioFormatList;
class IIPAudioStatusCallback;
class IIPFrameAllocator;
}  // namespace ipcapture

// Channel status values, shared with the capture side.
class IAudioOutputChannel {
 public:
  virtual ~IAudioOutputChannel() = default;
  virtual bool Start() = 0;
  // Bounded. True when the channel's thread has ended: the owner may delete the channel. False
  // when it still runs (called from inside the channel's own status callback, or a thread that
  // outlived the bound): no host callback of the channel starts any more, but the owner must
  // leave the deletion to CTeardownQueue, whose wait for the thread is then unbounded.
  virtual bool Stop() = 0;
  virtual uint32_t GetStatus() = 0;
  virtual bool GetAudioFormat(ipcapture::IIPAudioFormat* format) = 0;
  // The frame becomes the channel's when this returns true.
  virtual bool SendAudio(ipcapture::IIPAudioFrame* frame) = 0;
};

class CAudioItem {
 public:
  static constexpr uint32_t kConnect = 0;
  static constexpr uint32_t kData = 1;
  static constexpr uint32_t kRefresh = 2;

  CAudioItem() : type_(kConnect) {}
  virtual ~CAudioItem() = default;
  uint32_t GetType() const { return type_; }

 protected:
  explicit CAudioItem(uint32_t type) : type_(type) {}

 private:
  const uint32_t type_;
};

// Owns one host frame: it goes back to its allocator when the item is done or discarded.
class CAudioDataItem : public CAudioItem {
 public:
  CAudioDataItem(ipcapture::IIPAudioFrame* frame, ipcapture::IIPFrameAllocator* allocator)
      : CAudioItem(kData), frame_(frame), allocator_(allocator) {}
  ~CAudioDataItem() override;
  CAudioDataItem(const CAudioDataItem&) = delete;
  CAudioDataItem& operator=(const CAudioDataItem&) = delete;

  ipcapture::IIPAudioFrame* GetFrame() const { return frame_; }

 private:
  ipcapture::IIPAudioFrame* const frame_;
  ipcapture::IIPFrameAllocator* const allocator_;
};

class CAudioRefreshItem : public CAudioItem {
 public:
  CAudioRefreshItem() : CAudioItem(kRefresh) {}
};

// Threads: the host calls Start, Stop, SendAudio and GetStatus (the sender serialises Start and
// Stop); the channel's queue thread carries out the items and reports status changes. Every
// status report goes through gate_, so none starts after Stop returned.
class CBaseAudioOutputChannel : public CQueueThread<CAudioItem>, public IAudioOutputChannel {
 public:
  static constexpr uint32_t kStopWaitMs = 5000;
  static constexpr uint32_t kReconnectDelayMs = 1500;
  // How often Stop repeats its abort while it waits: an abort that came just before the thread
  // began its next network call would otherwise miss that call.
  static constexpr uint32_t kAbortRepeatMs = 100;

  // `driver`, `callback` and `formats` are borrowed; the host keeps the last two until it
  // closes the channel.
  CBaseAudioOutputChannel(uint32_t hostChannelIndex, IDriver* driver, uint32_t channel,
                          ipcapture::IIPAudioStatusCallback* callback,
                          ipcapture::IIPAudioFormatList* formats);
  ~CBaseAudioOutputChannel() override;

  bool Start() override;
  bool Stop() override;
  uint32_t GetStatus() override;
  bool GetAudioFormat(ipcapture::IIPAudioFormat*) override { return false; }
  bool SendAudio(ipcapture::IIPAudioFrame* frame) override;

  uint32_t GetChannel() const { return channel_; }

 protected:
  void ThreadProc() override;
  // On the channel thread.
  void ProcessItem(CAudioItem* item) override;
  // Only host frames give way to a newer one: a connect or reconnect request that gave way
  // would leave the channel unconnected for good.
  bool IsDiscardable(const CAudioItem* item) const override { return item->GetType() == CAudioItem::kData; }
  // From Stop, on the host's thread: breaks the network call the channel thread is blocked in.
  virtual void AbortCamera() {}
  // False for a camera the channel can never reach (a failure that retrying does not mend): no
  // more attempts, no reconnect items.
  virtual bool CanConnect() { return true; }
  virtual bool EnableAudio() { return false; }
  virtual bool IsEntryUsable(ipcapture::IIPAudioFormatEntry*) { return false; }
  virtual bool FrameMatchesFormat(ipcapture::IIPAudioFrame*) { return false; }
  virtual bool SendFrame(ipcapture::IIPAudioFrame*) { return false; }
  virtual void DisconnectStreamer() {}

  // Moves the status to `to` when it is one of `from`; reports a change to the host.
  bool ChangeStatus(std::initializer_list<uint32_t> from, uint32_t to);
  IDriver* GetDriver() const { return driver_; }

 private:
  void Connect();
  void SendData(ipcapture::IIPAudioFrame* frame);
  void Refresh();
  void QueueRefresh();

  const uint32_t hostChannelIndex_;
  IDriver* const driver_;
  const uint32_t channel_;
  ipcapture::IIPAudioStatusCallback* const callback_;
  ipcapture::IIPAudioFormatList* const formats_;
  bool WaitForExit(uint32_t timeoutMs);

  CRecursiveLock statusLock_;
  uint32_t status_ = kAudioStopped;  // guarded by statusLock_
  CCallbackGate gate_;
  CManualEvent exited_;  // the queue thread returned from ThreadProc
};

}  // namespace vantrel
