// The named presets of one PTZ channel. Positions are indices in creation order; each preset
// occupies a slot on the head (0-based; the head's preset number is slot + the protocol's
// first number). Names persist in the device's preset file when one is attached; presets of
// the older "BoschIP_PTZ.xml" are imported once into a channel that has none.
//
// Each preset remembers the file position it was read from or first written to, and is only
// ever written there: an entry the list could not use (bad or duplicate slot, no name) keeps
// its position, so a hand-edited or damaged file never has a user's entry overwritten by an
// unrelated preset. List positions (what the host sees) and file positions may differ.
//
// Threads: host threads. The list's lock guards the list; it is never held while the head is
// asked (a network request): the head calls run inside commGate_, which SetComm(nullptr)
// closes, so the comm outlives every call that was handed it. The preset file has its own lock.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/driver_services.h"
#include "foundation/callback_gate.h"
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

  // Set when the control opens (comm borrowed from it). Cleared before the comm goes: that
  // waits for the head calls in flight, which the owner aborts first. `firstPreset` is the
  // protocol's first preset number (the older file stores the head's numbers).
  void SetComm(IPrepositionComm* comm, uint32_t capacity, uint32_t firstPreset = 1);
  uint32_t GetCapacity() const { return capacity_; }

 private:
  // Highest file position looked at, and how many empty positions in a row end a scan (new
  // presets take the lowest free position, so a longer gap holds nothing of ours).
  static constexpr uint32_t kMaxFilePositions = 1000;
  static constexpr uint32_t kMinEmptyRun = 16;

  bool ImportOlderFileLocked();
  void AddLocked(uint32_t slot, const std::wstring& name, uint32_t filePosition);
  int32_t RenameCurrent(const std::wstring& name, std::unique_lock<CRecursiveLock>& guard);
  std::optional<size_t> FindLocked(const std::wstring& name) const;
  bool SaveAllLocked();
  // The lowest file position that holds nothing at all and is not promised to a preset.
  uint32_t FreeFilePositionLocked() const;
  bool WriteLocked(uint32_t filePosition, uint32_t slot, const std::wstring& name);
  // Logs the first failure of a run of preset file writes.
  void NoteSaveResult(bool saved);
  bool SlotTakenLocked(uint32_t slot) const;

  IDriver* const driver_;  // the driver object outlives every control
  const uint32_t channel_;
  IPrepositionComm* comm_ = nullptr;  // owned by the control; guarded by lock_
  uint32_t capacity_ = 0;
  uint32_t firstPreset_ = 1;
  TSmartPtr<CXMLPrepositionReader> store_;
  CRecursiveLock lock_;
  // Guarded by lock_.
  std::map<uint32_t, std::wstring> names_;
  std::map<uint32_t, uint32_t> filePositions_;  // slot -> file position
  std::vector<uint32_t> order_;
  std::set<uint32_t> pendingSlots_;  // being stored on the head right now
  int32_t current_ = -1;
  bool loaded_ = false;
  bool saveFailed_ = false;
  // Head calls in flight (outside lock_).
  CCallbackGate commGate_;
};

}  // namespace vantrel
