#include "ptz/preposition_list.h"

#include <algorithm>

#include "control/xml_parser.h"
#include "foundation/text_conversion.h"
#include "foundation/text_format.h"
#include "ptz/preset_text.h"
#include "vantrel/ipcapture/ptz_driver.h"

namespace vantrel {

namespace {
// Highest preset number looked up in the older file.
constexpr int kOlderFileMaxPresets = 999;
}  // namespace

CPrepositionList::CPrepositionList(IDriver* driver, uint32_t channel) : driver_(driver), channel_(channel) {}

void CPrepositionList::SetComm(IPrepositionComm* comm, uint32_t capacity, uint32_t firstPreset) {
  {
    CScopedLock guard(lock_);
    comm_ = comm;
    capacity_ = capacity;
    firstPreset_ = firstPreset;
  }
  if (comm) {
    commGate_.Open();
  } else {
    // The owner has aborted the comm's requests: the calls in flight end at once.
    commGate_.Close();
  }
}

void CPrepositionList::AttachStore(const TSmartPtr<CXMLPrepositionReader>& store) {
  {
    CScopedLock guard(lock_);
    store_ = store;
  }
  Reload();
}

void CPrepositionList::Reload() {
  CScopedLock guard(lock_);
  names_.clear();
  filePositions_.clear();
  order_.clear();
  current_ = -1;
  loaded_ = false;
  if (!store_) return;
  const uint32_t emptyRunEnd = std::max(capacity_, kMinEmptyRun);
  uint32_t emptyRun = 0;
  for (uint32_t position = 0; position < kMaxFilePositions && emptyRun < emptyRunEnd; ++position) {
    if (!store_->PositionExists(channel_, position)) {
      ++emptyRun;
      continue;
    }
    emptyRun = 0;
    std::wstring name;
    uint32_t slot = 0;
    if (!store_->ReadPreset(channel_, position, name, slot)) continue;
    // A hand-edited file may name one slot twice; the first keeps it. The entries skipped here
    // keep their file positions: nothing new is written over them.
    if (names_.count(slot) != 0 || name.empty()) continue;
    AddLocked(slot, name, position);
  }
  loaded_ = !names_.empty();
}

void CPrepositionList::AddLocked(uint32_t slot, const std::wstring& name, uint32_t filePosition) {
  names_[slot] = name;
  filePositions_[slot] = filePosition;
  order_.push_back(slot);
}

uint32_t CPrepositionList::FreeFilePositionLocked() const {
  for (uint32_t position = 0;; ++position) {
    bool promised = false;
    for (const auto& [slot, used] : filePositions_) promised = promised || used == position;
    if (promised) continue;
    if (!store_ || !store_->PositionExists(channel_, position)) return position;
  }
}

bool CPrepositionList::SlotTakenLocked(uint32_t slot) const {
  return names_.count(slot) != 0 || pendingSlots_.count(slot) != 0;
}

std::optional<size_t> CPrepositionList::FindLocked(const std::wstring& name) const {
  for (size_t i = 0; i < order_.size(); ++i) {
    auto it = names_.find(order_[i]);
    if (it != names_.end() && it->second == name) return i;
  }
  return std::nullopt;
}

uint32_t CPrepositionList::GetPrepositionCount() {
  CScopedLock guard(lock_);
  if (!loaded_) ImportOlderFileLocked();
  return static_cast<uint32_t>(order_.size());
}

bool CPrepositionList::ImportOlderFileLocked() {
  if (!comm_) return false;
  CXMLParser older;
  if (!older.Load(comm_->GetHostDirectory() + kOlderFileName)) return false;
  const std::string address = comm_->GetCameraAddress();
  // The address goes into an XPath string literal: one with a quote could only come from a
  // broken record and must not change the query.
  if (address.find_first_of("\"'") != std::string::npos) return false;
  for (int k = 1; k <= kOlderFileMaxPresets; ++k) {
    const std::string node =
        FormatText("settings/*/*[IPAddress/@value=\"%s\"]/positions/PrePos%d", address.c_str(), k);
    if (!older.NodeExists(node)) break;
    const std::wstring name = Utf8ToWide(older.GetAttribute(node + "/Name", "value"));
    std::optional<uint32_t> number = ParsePresetSlot(older.GetAttribute(node + "/BoschID", "value"));
    // The older tools stored the head's own preset number, which starts at the protocol's
    // first number; the list's slots start at 0.
    if (!number || *number < firstPreset_ || name.empty()) continue;
    const uint32_t slot = *number - firstPreset_;
    if (names_.count(slot) != 0) continue;
    AddLocked(slot, name, FreeFilePositionLocked());
  }
  SaveAllLocked();
  loaded_ = true;
  return true;
}

void CPrepositionList::NoteSaveResult(bool saved) {
  if (saved) {
    saveFailed_ = false;
    return;
  }
  if (saveFailed_) return;
  saveFailed_ = true;
  driver_->Log(kLogError, "%s: The presets of PTZ channel %u could not be saved to \"%s\"",
               "vantrel::CPrepositionList::SavePreposition", channel_ + 1,
               store_ ? store_->GetFilePath().c_str() : "");
}

bool CPrepositionList::WriteLocked(uint32_t filePosition, uint32_t slot, const std::wstring& name) {
  const bool saved = store_->WritePreset(channel_, filePosition, name, slot);
  NoteSaveResult(saved);
  return saved;
}

int32_t CPrepositionList::SavePreposition(uint32_t position, uint32_t slot, const std::wstring& name) {
  CScopedLock guard(lock_);
  if (!store_) return kPTZSuccess;
  return WriteLocked(position, slot, name) ? kPTZSuccess : kPTZNotOpen;
}

bool CPrepositionList::SaveAll() {
  CScopedLock guard(lock_);
  return SaveAllLocked();
}

bool CPrepositionList::SaveAllLocked() {
  if (!store_) return true;
  CScopedLock fileGuard(store_->GetLock());
  store_->SetSaveEachWrite(false);
  bool ok = true;
  for (size_t i = 0; i < order_.size() && ok; ++i) {
    const uint32_t slot = order_[i];
    ok = store_->WritePreset(channel_, filePositions_[slot], names_[slot], slot);
  }
  store_->SetSaveEachWrite(true);
  ok = store_->Save() && ok;
  NoteSaveResult(ok);
  return ok;
}

std::optional<std::wstring> CPrepositionList::GetPrepositionName(uint32_t position) {
  CScopedLock guard(lock_);
  if (position >= order_.size()) return std::nullopt;
  return names_[order_[position]];
}

bool CPrepositionList::GoToPreposition(const std::wstring& name, int32_t value) {
  std::unique_lock<CRecursiveLock> guard(lock_);
  if (name.empty() || !comm_) return false;
  std::optional<size_t> position = FindLocked(name);
  if (!position) return false;
  if (static_cast<int32_t>(*position) == current_) return true;
  const uint32_t slot = order_[*position];
  IPrepositionComm* comm = comm_;
  CCallbackGate::Scope call(commGate_);
  if (!call) return false;
  guard.unlock();
  if (!comm->GoToPreset(slot, value)) return false;
  guard.lock();
  // Another host thread may have changed the list meanwhile.
  position = FindLocked(name);
  if (position && order_[*position] == slot) current_ = static_cast<int32_t>(*position);
  return true;
}

int32_t CPrepositionList::AddPreposition(const std::wstring& name) {
  static const char kMethod[] = "vantrel::CPrepositionList::AddPreposition";
  std::unique_lock<CRecursiveLock> guard(lock_);
  if (!comm_) return kPTZNotOpen;
  if (!IsValidPresetName(name)) {
    driver_->Log(kLogError, "%s: A preposition \"%s\" cannot be added - the name is invalid.", kMethod,
                 WideToUtf8(name).c_str());
    return kPTZBadArgument;
  }
  if (current_ >= 0) return RenameCurrent(name, guard);
  if (order_.size() + pendingSlots_.size() >= capacity_) {
    driver_->Log(kLogError, "%s: A preposition \"%s\" cannot be added. Max preposition count is %u", kMethod,
                 WideToUtf8(name).c_str(), capacity_);
    return kPTZNoFreePreset;
  }
  uint32_t slot = 0;
  while (slot < capacity_ && SlotTakenLocked(slot)) ++slot;
  if (slot >= capacity_) return kPTZNoFreePreset;
  IPrepositionComm* comm = comm_;
  CCallbackGate::Scope call(commGate_);
  if (!call) return kPTZNotOpen;
  pendingSlots_.insert(slot);
  guard.unlock();
  const bool stored = comm->StorePreset(slot);
  guard.lock();
  pendingSlots_.erase(slot);
  if (!stored) return kPTZNotOpen;
  const uint32_t filePosition = store_ ? FreeFilePositionLocked() : 0;
  AddLocked(slot, name, filePosition);
  current_ = static_cast<int32_t>(order_.size() - 1);
  if (!store_) return kPTZSuccess;
  return WriteLocked(filePosition, slot, name) ? kPTZSuccess : kPTZNotOpen;
}

int32_t CPrepositionList::RenameCurrentPreposition(const std::wstring& name) {
  std::unique_lock<CRecursiveLock> guard(lock_);
  return RenameCurrent(name, guard);
}

int32_t CPrepositionList::RenameCurrent(const std::wstring& name, std::unique_lock<CRecursiveLock>& guard) {
  static const char kMethod[] = "vantrel::CPrepositionList::RenameCurrentPreposition";
  if (current_ < 0) return kPTZNotOpen;
  if (static_cast<size_t>(current_) >= order_.size()) return kPTZBadArgument;
  const int32_t position = current_;
  const uint32_t slot = order_[static_cast<size_t>(position)];
  if (names_.count(slot) == 0) return kPTZNotOpen;
  bool ok;
  if (store_) {
    ok = WriteLocked(filePositions_[slot], slot, name);
  } else {
    IPrepositionComm* comm = comm_;
    CCallbackGate::Scope call(commGate_);
    if (!comm || !call) return kPTZNotOpen;
    guard.unlock();
    ok = comm->StorePreset(slot);
    guard.lock();
  }
  auto it = names_.find(slot);
  if (!ok || it == names_.end()) return kPTZNotOpen;
  driver_->Log(kLogInfo, "%s: A preposition with index %d was renamed from \"%s\" to \"%s\".", kMethod,
               position, WideToUtf8(it->second).c_str(), WideToUtf8(name).c_str());
  it->second = name;
  return kPTZSuccess;
}

int32_t CPrepositionList::RemovePreposition(const std::wstring& name) {
  std::unique_lock<CRecursiveLock> guard(lock_);
  if (!comm_ || name.empty()) return kPTZPresetNotFound;
  std::optional<size_t> position = FindLocked(name);
  if (!position) return kPTZPresetNotFound;
  const uint32_t slot = order_[*position];
  IPrepositionComm* comm = comm_;
  CCallbackGate::Scope call(commGate_);
  if (!call) return kPTZPresetNotFound;
  guard.unlock();
  const bool cleared = comm->ClearPreset(slot);
  guard.lock();
  current_ = -1;
  // A preset the head kept is still there: the host must not be told it is gone.
  if (!cleared) return kPTZNotOpen;
  position = FindLocked(name);
  if (!position || order_[*position] != slot) return kPTZSuccess;  // removed meanwhile
  names_.erase(slot);
  order_.erase(order_.begin() + static_cast<ptrdiff_t>(*position));
  const uint32_t filePosition = filePositions_[slot];
  filePositions_.erase(slot);
  if (!store_) return kPTZSuccess;
  const bool saved = store_->RemovePreset(channel_, filePosition);
  NoteSaveResult(saved);
  return saved ? kPTZSuccess : kPTZNotOpen;
}

std::optional<std::wstring> CPrepositionList::GetCurrentPreposition() {
  CScopedLock guard(lock_);
  if (current_ < 0 || static_cast<size_t>(current_) >= order_.size()) return std::nullopt;
  return names_[order_[static_cast<size_t>(current_)]];
}

void CPrepositionList::ClearCurrentPosition() {
  CScopedLock guard(lock_);
  current_ = -1;
}

}  // namespace vantrel
