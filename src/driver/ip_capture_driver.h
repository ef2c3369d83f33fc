// The generic driver object: the host's driver interfaces, the services every channel and handler
// reaches through IDriver, and the channel factories. One object serves one device.
//
// Threads: the host calls the factories, Open and Close from its own thread and must not overlap
// them. IDriver operations are called from every channel and handler thread and only read what
// Open fixed, so they take no lock; Log is re-entrant.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "core/device_info.h"
#include "core/driver_services.h"
#include "driver/channel_creators.h"
#include "driver/host_version.h"
#include "driver/owned_sub_object.h"
#include "foundation/recursive_lock.h"
#include "vantrel/ipcapture/ip_capture_driver.h"

namespace vantrel {

class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx5,
                         public IDriver,
                         public IVideoChannelCreator,
                         public IAudioChannelCreator {
 public:
  // Declared first so that they follow the host's slots directly (13, 14, 15).
  virtual bool CreateIOHandler() = 0;
  virtual bool CreatePTZHandler() = 0;
  // Logs the open message at level 100 when the driver name and the model are known.
  virtual void LogDriverOpened(const std::string& firmware);

  CIPCaptureDriver();
  ~CIPCaptureDriver() override;
  CIPCaptureDriver(const CIPCaptureDriver&) = delete;
  CIPCaptureDriver& operator=(const CIPCaptureDriver&) = delete;

  // ipcapture::IIPCaptureDriverEx5
  void* ScalarDeletingDestructor(unsigned int flags) override;
  bool Open(ipcapture::IIPDebugSink* debugSink, ipcapture::IIPFrameAllocator* frameAllocator,
            ipcapture::IIPOpenParams* params) override;
  void Close() override;
  ipcapture::IIPVideoCapture* GetVideoCapture() override;
  ICaptureIOApi* GetIOApi() override;
  void* GetReservedEx() override { return nullptr; }
  IIPPTZDriver* GetPTZDriver() override;
  void* GetReservedEx2() override { return nullptr; }
  ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override;
  IIPPTZDriverEx* GetPTZDriverEx() override;
  ipcapture::IIPAudioCapture2* GetAudioCapture2() override;
  ipcapture::IIPAudioSender* GetAudioSender() override;
  ipcapture::IIPVideoCaptureEx2* GetVideoCaptureEx2() override;

  // IDriver
  std::string GetDeviceAddress() override;
  void Log(uint32_t level, const char* format, ...) override
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  std::string GetDriverName() override;
  std::string GetHostDirectory() override { return hostDirectory_; }
  DEVICE_INFO& GetDeviceInfo() override { return deviceInfo_; }
  void GetHostIdPair(uint32_t* hostId1, uint32_t* hostId2) override;
  ipcapture::IIPFrameAllocator* GetFrameAllocator() override { return frameAllocator_; }
  bool GetVideoStandard() override { return videoStandard_; }
  uint32_t GetDefaultVideoFormat() override { return defaultVideoFormat_; }
  uint32_t GetChannelCount() override { return channelCount_; }
  CEdgeStorageTask* GetEdgeStorageTask() override;
  std::string GetParameter(uint32_t number) override;
  int32_t GetParameterInt(uint32_t number) override;
  uint32_t GetCameraLine(uint32_t channel) override;

  // IVideoChannelCreator
  ICameraChannel* CreateVideoChannel(uint32_t channel, ipcapture::IIPVideoCallback* callback,
                                     VideoSettings& settings) override;
  IMotionChannel* CreateMotionChannel(uint32_t channel, ipcapture::IIPVideoCallback* callback) override;
  IEdgeStorageHandler* CreateEdgeStorageHandler() override;

  // IAudioChannelCreator
  IAudioInputChannel* CreateAudioInputChannel(uint32_t channel, uint32_t parameter, void* callback,
                                              uint64_t context) override;
  IAudioOutputChannel* CreateAudioOutputChannel(uint32_t channel, uint32_t parameter, void* statusCallback,
                                                void* formats) override;

  // The channel class for a stream format, after 0 and 16 are resolved to the default format.
  VideoChannelKind SelectVideoChannel(uint32_t format);

  const HostVersion& GetHostVersion() const { return hostVersion_; }

 protected:
  // Upper bound on the numbered parameters read at open, so that a host that answers every
  // number cannot keep Open looping.
  static constexpr uint32_t kMaxNumberedParameters = 1000;
  // Close's wait for the stops deferred to the tear-down queue: a stop aborts its requests and
  // waits out a host callback in flight, so this only covers a worker finishing a WinHTTP call
  // (under Wine an aborted request ends at its time-out, the device's 10 s).
  static constexpr uint32_t kCloseDrainMs = 12000;

  void SendToSink(uint32_t level, const std::string& text);

  ipcapture::IIPDebugSink* debugSink_ = nullptr;            // borrowed from the host, may be null
  ipcapture::IIPFrameAllocator* frameAllocator_ = nullptr;  // borrowed from the host
  DEVICE_INFO deviceInfo_;
  uint32_t hostId1_ = 0;
  uint32_t hostId2_ = 0;
  uint32_t channelCount_ = 0;
  uint32_t defaultVideoFormat_ = 0;
  bool videoStandard_ = false;
  std::map<uint32_t, std::string> parameters_;
  HostVersion hostVersion_;
  std::string hostDirectory_;

  TOwnedSubObject<ICaptureIOApi> ioHandler_;
  TOwnedSubObject<ipcapture::IIPVideoCapture, ipcapture::IIPVideoCaptureEx, ipcapture::IIPVideoCaptureEx2>
      videoCapture_;
  TOwnedSubObject<IIPPTZDriver, IIPPTZDriverEx> ptzHandler_;
  TOwnedSubObject<ipcapture::IIPAudioCapture2> audioCapture_;
  TOwnedSubObject<ipcapture::IIPAudioSender> audioSender_;
  TOwnedSubObject<CEdgeStorageTask> edgeStorageTask_;
  CRecursiveLock edgeStorageLock_;  // one creation of the edge-storage task at a time

 private:
  bool ReadOpenParams(ipcapture::IIPOpenParams* params);
  bool CreateVideoCapture();
  bool RunAudioStep(ipcapture::IIPOpenParams* params);
};

// Directory of the host executable including the trailing backslash; the whole path when it has
// no backslash; empty when it cannot be read.
std::string ReadHostDirectory();

}  // namespace vantrel
