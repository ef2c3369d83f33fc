#include "driver/capability_query_module.h"

#include <process.h>
#include <windows.h>

#include <cstring>

#include "capabilities/lumivar_camera_properties.h"
#include "capabilities/rcp_http_property_source.h"
#include "channels/encoder_profiles.h"
#include "foundation/teardown_queue.h"

namespace vantrel {
namespace {

constexpr uint32_t kQueryTimeoutMs = 10000;
constexpr DWORD kExceptionExitCode = 0x123456;
constexpr const char kInvalidAddressCharacters[] = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";

}  // namespace

CCapabilityQueryModule::CCapabilityQueryModule(ipcapture::IIPCapabilityQueryCallback* callback, uint8_t flag)
    : flag_(flag), callback_(callback) {
  device_.timeout = kQueryTimeoutMs;
  device_.signalTimeout = kQueryTimeoutMs;
}

CCapabilityQueryModule::~CCapabilityQueryModule() { Stop(); }

void* CCapabilityQueryModule::ScalarDeletingDestructor(unsigned int flags) {
  if ((flags & 1) && OnQueryThread()) {
    // The host deletes us from inside our own callback: its thread returns through this
    // module, so the delete waits on the tear-down thread for the callback and the thread.
    Terminate();
    gate_.Close();  // nothing more reaches the host from this query
    CTeardownQueue::Post([this] { delete this; });
    return this;
  }
  if (flags & 1) {
    delete this;
  } else {
    this->~CCapabilityQueryModule();
  }
  return this;
}

bool CCapabilityQueryModule::IsValidAddress(const std::string& address) {
  if (address.empty()) return false;
  for (char c : address) {
    const auto u = static_cast<unsigned char>(c);
    // Blanks and control characters would end up inside the request line.
    if (u <= 0x20 || u == 0x7F) return false;
    if (std::strchr(kInvalidAddressCharacters, c)) return false;
  }
  return true;
}

uint32_t CCapabilityQueryModule::Start(const char* address, uint16_t port, const char* user,
                                       const char* password, ipcapture::IIPCapabilityResult* result) {
  if (!address || !user || !password) return 0;
  CScopedLock guard(lock_);
  // Also a query that has ended: its handle is held until the module stops.
  if (thread_) return 0;
  result_ = result;
  device_.address = address;
  device_.port = port;
  device_.user = user;
  device_.password = password;
  try {
    properties_ = CreateCameraProperties();
  } catch (...) {
    properties_.reset();
  }
  unsigned id = 0;
  const uintptr_t handle = _beginthreadex(nullptr, 0, &CCapabilityQueryModule::ThreadMain, this, 0, &id);
  if (handle == 0) {
    properties_.reset();
    return 0;
  }
  thread_ = reinterpret_cast<void*>(handle);
  threadId_ = id;
  return 1;
}

std::shared_ptr<CBaseCameraProperties> CCapabilityQueryModule::CurrentProperties() {
  CScopedLock guard(lock_);
  return properties_;
}

void CCapabilityQueryModule::Terminate() {
  if (std::shared_ptr<CBaseCameraProperties> properties = CurrentProperties()) properties->Abort();
}

bool CCapabilityQueryModule::OnQueryThread() {
  CScopedLock guard(lock_);
  return thread_ && threadId_ == GetCurrentThreadId();
}

void CCapabilityQueryModule::Stop() {
  Terminate();
  void* thread = nullptr;
  bool ownThread = false;
  {
    CScopedLock guard(lock_);
    thread = thread_;
    ownThread = thread && threadId_ == GetCurrentThreadId();
  }
  if (thread && !ownThread) {
    // The abort ends the load within one request; the query's last callback (its failure) may
    // still come while we wait, and a callback the host is in is waited out, never cut short.
    // No lock is held: the callback may call Terminate.
    WaitForSingleObject(thread, INFINITE);
  }
  gate_.Close();
  CScopedLock guard(lock_);
  if (thread_) {
    CloseHandle(thread_);
    thread_ = nullptr;
    threadId_ = 0;
  }
  properties_.reset();
}

unsigned __stdcall CCapabilityQueryModule::ThreadMain(void* self) {
  try {
    static_cast<CCapabilityQueryModule*>(self)->QueryBody();
  } catch (...) {
    return kExceptionExitCode;
  }
  return 0;
}

void CCapabilityQueryModule::Fail(uint32_t status, const std::string& message) {
  if (CCallbackGate::Scope s(gate_); s && callback_) callback_->OnQueryFailed(status, message.c_str());
}

void CCapabilityQueryModule::QueryBody() {
  // Start set these before the thread began; Stop changes them only once the thread has ended
  // (or on this thread, inside a callback, after which nothing here touches them).
  std::shared_ptr<CBaseCameraProperties> properties = properties_;
  ipcapture::IIPCapabilityResult* const result = result_;
  if (!IsValidAddress(device_.address)) {
    Fail(ipcapture::kQueryInvalidAddress,
         "Failed to start capability fetching thread. Device address is invalid!");
    return;
  }
  if (!properties || !result) {
    Fail(ipcapture::kQueryOtherError, "Failed to start capability fetching thread. Internal error occurs");
    return;
  }
  uint32_t status = kPropertiesFailed;
  if (!properties->Load(status)) {
    if (status == kPropertiesOk) status = kPropertiesFailed;  // an abort ends the load without a verdict
    const std::string detail = properties->GetFailureDetail();
    std::string message = "Failed to get camera properties";
    if (status == kPropertiesLoginFailed) {
      message += detail.empty() ? ", login failed (invalid credentials)" : ": " + detail;
    } else if (status == kPropertiesOffline) {
      message += ", device is offline or is located in unaccessible subnet";
    } else {
      status = kPropertiesFailed;
      if (!detail.empty()) message += ": " + detail;
    }
    Fail(status, message);
    return;
  }
  {
    // The result object is the host's too: nothing is written into it after a stop returned.
    CCallbackGate::Scope s(gate_);
    if (!s) return;
    if (!properties->Save(result)) {
      Fail(ipcapture::kQueryOtherError, "Failed to save capability query results");
      return;
    }
  }
  if (CCallbackGate::Scope s(gate_); s && callback_) callback_->OnQueryCompleted();
}

std::shared_ptr<CBaseCameraProperties> CBoschCapabilityQueryModule::CreateCameraProperties() {
  return std::make_shared<CLumivarCameraProperties>(std::make_unique<CRcpHttpPropertySource>(device_),
                                                    &ProfileCandidates, &JpegExactResolutionCode, flag_ != 0,
                                                    device_.model);
}

}  // namespace vantrel
