// The named presets of one PTZ channel. Positions are indices in creation order; each preset
// occupies a slot on the head (0-based; the head's preset number is slot + the protocol's
// first number). Names persist in the device's preset file when one is attached; presets of
// the older "BoschIP_PTZ.xml" are imported once into a channel that has none.
//
// Threads: host calls and the head calls they make run under the list's lock; the preset
// file has its own.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/driver_services.h"
#include "foundation/recursive_lock.h"
#include "foundation/smart_ptr.h"
#include "ptz/preposition_comm.h"
#include "ptz/xml_preposition_reader.h"

namespace vantrel {

class CPrepositionList {
 public:
  static constexpr const char* kOlderFileName = "BoschIP_PTZ.xml";

  CPrepositionList(IDriver* driver, uint32_t channel);
  virtual ~CPrepositionList() = default;
  CPrepositionList(const CPrepositionList&) = delete;
  CPrepositionList& operator=(const CPrepositionList&) = delete;

  // 1, or -18 when the file could not be written.
  virtual int32_t SavePreposition(uint32_t position, uint32_t slot, const std::wstring& name);
  virtual bool SaveAll();
  virtual void Reload();
  virtual void AttachStore(const TSmartPtr<CXMLPrepositionReader>& store);
  virtual uint32_t GetPrepositionCount();
  virtual std::optional<std::wstring> GetPrepositionName(uint32_t position);
  virtual bool GoToPreposition(const std::wstring& name, int32_t value);
  // 1, -3 invalid name, -18 no head or refused, -26 no free slot.
  virtual int32_t AddPreposition(const std::wstring& name);
  // 1, -23 unknown name, -18 no head or the head refused to clear it.
  virtual int32_t RemovePreposition(const std::wstring& name);
  virtual std::optional<std::wstring> GetCurrentPreposition();
  int32_t RenameCurrentPreposition(const std::wstring& name);
  void ClearCurrentPosition();

  // Set when the control opens (comm borrowed from it, cleared before it goes).
  void SetComm(IPrepositionComm* comm, uint32_t capacity);
  uint32_t GetCapacity() const { return capacity_; }

 private:
  bool ImportOlderFileLocked();
  void AddLocked(uint32_t slot, const std::wstring& name);
  int32_t RenameCurrentLocked(const std::wstring& name);
  std::optional<size_t> FindLocked(const std::wstring& name) const;
  bool SaveAllLocked();

  IDriver* const driver_;  // the driver object outlives every control
  const uint32_t channel_;
  IPrepositionComm* comm_ = nullptr;  // owned by the control; guarded by lock_
  uint32_t capacity_ = 0;
  TSmartPtr<CXMLPrepositionReader> store_;
  CRecursiveLock lock_;
  // Guarded by lock_.
  std::map<uint32_t, std::wstring> names_;
  std::vector<uint32_t> order_;
  int32_t current_ = -1;
  bool loaded_ = false;
};

}  // namespace vantrel
