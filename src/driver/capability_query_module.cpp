#include "driver/capability_query_module.h"

#include <process.h>
#include <windows.h>

#include <cstring>
#include <new>

#include "capabilities/lumivar_camera_properties.h"
#include "capabilities/rcp_http_property_source.h"
#include "channels/encoder_profiles.h"
#include "foundation/callback_gate.h"

namespace vantrel {
namespace {

constexpr uint32_t kQueryTimeoutMs = 10000;
constexpr DWORD kExceptionExitCode = 0x123456;
constexpr const char kInvalidAddressCharacters[] = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";

}  // namespace

struct CCapabilityQueryModule::Run {
  CCallbackGate gate;  // every call into the host's callback and result object
  ipcapture::IIPCapabilityQueryCallback* callback = nullptr;
  ipcapture::IIPCapabilityResult* result = nullptr;
  std::shared_ptr<CBaseCameraProperties> properties;
  std::string address;
  HMODULE library = nullptr;  // the thread's reference to this library
};

CCapabilityQueryModule::CCapabilityQueryModule(ipcapture::IIPCapabilityQueryCallback* callback, uint8_t flag)
    : flag_(flag), callback_(callback) {
  device_.timeout = kQueryTimeoutMs;
  device_.signalTimeout = kQueryTimeoutMs;
}

CCapabilityQueryModule::~CCapabilityQueryModule() { Stop(); }

void* CCapabilityQueryModule::ScalarDeletingDestructor(unsigned int flags) {
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
  device_.address = address;
  device_.port = port;
  device_.user = user;
  device_.password = password;
  auto run = std::make_shared<Run>();
  run->callback = callback_;
  run->result = result;
  run->address = device_.address;
  try {
    run->properties = CreateCameraProperties();
  } catch (...) {
    run->properties.reset();
  }
  // The thread may outlive the module (see Stop); it keeps this library loaded until it ends.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&CCapabilityQueryModule::ThreadMain), &run->library))
    run->library = nullptr;
  auto* handOver = new (std::nothrow) std::shared_ptr<Run>(run);
  unsigned id = 0;
  const uintptr_t handle =
      handOver ? _beginthreadex(nullptr, 0, &CCapabilityQueryModule::ThreadMain, handOver, 0, &id) : 0;
  if (handle == 0) {
    delete handOver;
    if (run->library) FreeLibrary(run->library);
    return 0;
  }
  run_ = std::move(run);
  thread_ = reinterpret_cast<void*>(handle);
  threadId_ = id;
  return 1;
}

std::shared_ptr<CCapabilityQueryModule::Run> CCapabilityQueryModule::CurrentRun() {
  CScopedLock guard(lock_);
  return run_;
}

void CCapabilityQueryModule::Terminate() {
  std::shared_ptr<Run> run = CurrentRun();
  if (run && run->properties) run->properties->Abort();
}

void CCapabilityQueryModule::Stop() {
  Terminate();
  std::shared_ptr<Run> run;
  void* thread = nullptr;
  bool ownThread = false;
  {
    CScopedLock guard(lock_);
    run = run_;
    thread = thread_;
    ownThread = thread && threadId_ == GetCurrentThreadId();
  }
  // No lock is held while waiting: the host's callback may call Terminate.
  if (thread && !ownThread) WaitForSingleObject(thread, kStopGraceMs);
  // From inside the callback this cannot wait for itself; the callback returns into the
  // query's own state, which its thread still holds.
  if (run) run->gate.Close();
  CScopedLock guard(lock_);
  if (thread_) {
    CloseHandle(thread_);
    thread_ = nullptr;
    threadId_ = 0;
  }
  run_.reset();
}

unsigned __stdcall CCapabilityQueryModule::ThreadMain(void* handOver) {
  std::shared_ptr<Run> run = std::move(*static_cast<std::shared_ptr<Run>*>(handOver));
  delete static_cast<std::shared_ptr<Run>*>(handOver);
  DWORD code = 0;
  try {
    Execute(*run);
  } catch (...) {
    code = kExceptionExitCode;
  }
  const HMODULE library = run->library;
  run.reset();  // the last owner when the module has gone: the properties end here
  if (library) FreeLibraryAndExitThread(library, code);
  return code;
}

void CCapabilityQueryModule::Fail(Run& run, uint32_t status, const std::string& message) {
  if (CCallbackGate::Scope s(run.gate); s && run.callback)
    run.callback->OnQueryFailed(status, message.c_str());
}

void CCapabilityQueryModule::QueryBody() {
  if (std::shared_ptr<Run> run = CurrentRun()) Execute(*run);
}

void CCapabilityQueryModule::Execute(Run& run) {
  const std::shared_ptr<CBaseCameraProperties>& properties = run.properties;
  if (!IsValidAddress(run.address)) {
    Fail(run, ipcapture::kQueryInvalidAddress,
         "Failed to start capability fetching thread. Device address is invalid!");
    return;
  }
  if (!properties || !run.result) {
    Fail(run, ipcapture::kQueryOtherError,
         "Failed to start capability fetching thread. Internal error occurs");
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
    Fail(run, status, message);
    return;
  }
  {
    // The result object is the host's too: nothing is written into it after a stop returned.
    CCallbackGate::Scope s(run.gate);
    if (!s) return;
    if (!properties->Save(run.result)) {
      Fail(run, ipcapture::kQueryOtherError, "Failed to save capability query results");
      return;
    }
  }
  if (CCallbackGate::Scope s(run.gate); s && run.callback) run.callback->OnQueryCompleted();
}

std::shared_ptr<CBaseCameraProperties> CBoschCapabilityQueryModule::CreateCameraProperties() {
  return std::make_shared<CLumivarCameraProperties>(std::make_unique<CRcpHttpPropertySource>(device_),
                                                    &ProfileCandidates, &JpegExactResolutionCode, flag_ != 0,
                                                    device_.model);
}

}  // namespace vantrel
