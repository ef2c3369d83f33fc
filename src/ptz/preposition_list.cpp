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

void CPrepositionList::SetComm(IPrepositionComm* comm, uint32_t capacity) {
  CScopedLock guard(lock_);
  comm_ = comm;
  capacity_ = capacity;
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
  order_.clear();
  current_ = -1;
  loaded_ = false;
  if (!store_) return;
  for (uint32_t position = 0; position < capacity_; ++position) {
    std::wstring name;
    uint32_t slot = 0;
    if (!store_->ReadPreset(channel_, position, name, slot)) continue;
    // A hand-edited file may name one slot twice; the first keeps it.
    if (names_.count(slot) != 0 || name.empty()) continue;
    AddLocked(slot, name);
  }
  loaded_ = !names_.empty();
}

void CPrepositionList::AddLocked(uint32_t slot, const std::wstring& name) {
  names_[slot] = name;
  order_.push_back(slot);
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
    if (!number || *number < 1 || name.empty() || names_.count(*number) != 0) continue;
    AddLocked(*number, name);
  }
  SaveAllLocked();
  loaded_ = true;
  return true;
}

int32_t CPrepositionList::SavePreposition(uint32_t position, uint32_t slot, const std::wstring& name) {
  if (!store_) return kPTZSuccess;
  return store_->WritePreset(channel_, position, name, slot) ? kPTZSuccess : kPTZNotOpen;
}

bool CPrepositionList::SaveAll() {
  CScopedLock guard(lock_);
  return SaveAllLocked();
}

bool CPrepositionList::SaveAllLocked() {
  if (!store_) return true;
  CScopedLock fileGuard(store_->GetLock());
  store_->SetSaveEachWrite(false);
  store_->ClearChannel(channel_);
  bool ok = true;
  for (size_t i = 0; i < order_.size() && ok; ++i)
    ok = store_->WritePreset(channel_, static_cast<uint32_t>(i), names_[order_[i]], order_[i]);
  store_->SetSaveEachWrite(true);
  return store_->Save() && ok;
}

std::optional<std::wstring> CPrepositionList::GetPrepositionName(uint32_t position) {
  CScopedLock guard(lock_);
  if (position >= order_.size()) return std::nullopt;
  return names_[order_[position]];
}

bool CPrepositionList::GoToPreposition(const std::wstring& name, int32_t value) {
  CScopedLock guard(lock_);
  if (name.empty() || !comm_) return false;
  std::optional<size_t> position = FindLocked(name);
  if (!position) return false;
  if (static_cast<int32_t>(*position) == current_) return true;
  if (!comm_->GoToPreset(order_[*position], value)) return false;
  current_ = static_cast<int32_t>(*position);
  return true;
}

int32_t CPrepositionList::AddPreposition(const std::wstring& name) {
  static const char kMethod[] = "vantrel::CPrepositionList::AddPreposition";
  CScopedLock guard(lock_);
  if (!comm_) return kPTZNotOpen;
  if (!IsValidPresetName(name)) {
    driver_->Log(kLogError, "%s: A preposition \"%s\" cannot be added - the name is invalid.", kMethod,
                 WideToUtf8(name).c_str());
    return kPTZBadArgument;
  }
  if (current_ >= 0) return RenameCurrentLocked(name);
  if (order_.size() >= capacity_) {
    driver_->Log(kLogError, "%s: A preposition \"%s\" cannot be added. Max preposition count is %u", kMethod,
                 WideToUtf8(name).c_str(), capacity_);
    return kPTZNoFreePreset;
  }
  uint32_t slot = 0;
  while (slot < capacity_ && names_.count(slot) != 0) ++slot;
  if (slot >= capacity_) return kPTZNoFreePreset;
  if (!comm_->StorePreset(slot)) return kPTZNotOpen;
  AddLocked(slot, name);
  current_ = static_cast<int32_t>(order_.size() - 1);
  return SavePreposition(static_cast<uint32_t>(current_), slot, name);
}

int32_t CPrepositionList::RenameCurrentPreposition(const std::wstring& name) {
  CScopedLock guard(lock_);
  return RenameCurrentLocked(name);
}

int32_t CPrepositionList::RenameCurrentLocked(const std::wstring& name) {
  static const char kMethod[] = "vantrel::CPrepositionList::RenameCurrentPreposition";
  if (current_ < 0) return kPTZNotOpen;
  if (static_cast<size_t>(current_) >= order_.size()) return kPTZBadArgument;
  const uint32_t slot = order_[static_cast<size_t>(current_)];
  auto it = names_.find(slot);
  if (it == names_.end()) return kPTZNotOpen;
  bool ok;
  if (store_) {
    ok = SavePreposition(static_cast<uint32_t>(current_), slot, name) == kPTZSuccess;
  } else {
    ok = comm_ && comm_->StorePreset(slot);
  }
  if (!ok) return kPTZNotOpen;
  driver_->Log(kLogInfo, "%s: A preposition with index %d was renamed from \"%s\" to \"%s\".", kMethod,
               current_, WideToUtf8(it->second).c_str(), WideToUtf8(name).c_str());
  it->second = name;
  return kPTZSuccess;
}

int32_t CPrepositionList::RemovePreposition(const std::wstring& name) {
  CScopedLock guard(lock_);
  if (!comm_) return kPTZNotOpen;
  if (name.empty()) return kPTZPresetNotFound;
  std::optional<size_t> position = FindLocked(name);
  if (!position) return kPTZPresetNotFound;
  const uint32_t slot = order_[*position];
  const bool cleared = comm_->ClearPreset(slot);
  if (cleared) {
    names_.erase(slot);
    order_.erase(order_.begin() + static_cast<ptrdiff_t>(*position));
  }
  current_ = -1;
  const bool saved = SaveAllLocked();
  // A preset the head kept is still there: the host must not be told it is gone.
  if (!cleared) return kPTZNotOpen;
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
