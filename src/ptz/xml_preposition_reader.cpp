#include "ptz/xml_preposition_reader.h"

#include <windows.h>

#include "control/tobrin_file_base.h"
#include "ptz/preset_text.h"

namespace vantrel {

CXMLPrepositionReader::CXMLPrepositionReader(std::string maker) : maker_(std::move(maker)) {}

bool CXMLPrepositionReader::Open(const std::string& fileName) {
  CScopedLock guard(lock_);
  opened_ = false;
  if (fileName.empty()) return false;
  if (document_.LoadFile(fileName.c_str()) != S_OK) {
    const std::string path = document_.ResolvePath(fileName);
    if (CTobrinFileBase::ExistsAndNotEmpty(path)) {
      // A file we cannot parse still holds somebody's presets: keep it beside the new one.
      const std::string aside = path + ".corrupt";
      if (!MoveFileExA(path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
      setAside_ = aside;
    }
    if (document_.CreateFile(fileName.c_str(), maker_.c_str()) != 1) return false;
    if (document_.LoadFile(fileName.c_str()) != S_OK) return false;
  }
  opened_ = true;
  return true;
}

std::string CXMLPrepositionReader::PositionPath(uint32_t channel, uint32_t position) const {
  return maker_ + "/" + PresetChannelElement(channel) + "/" + PresetPositionElement(position);
}

bool CXMLPrepositionReader::ReadPreset(uint32_t channel, uint32_t position, std::wstring& name,
                                       uint32_t& slot) {
  CScopedLock guard(lock_);
  const std::string base = PositionPath(channel, position);
  if (!document_.NodeExists(base + "/Name") || !document_.NodeExists(base + "/Slot")) return false;
  std::optional<uint32_t> parsed = ParsePresetSlot(document_.GetValue(base + "/Slot"));
  if (!parsed) return false;
  name = document_.GetValueW(base + "/Name");
  slot = *parsed;
  return true;
}

bool CXMLPrepositionReader::WritePreset(uint32_t channel, uint32_t position, const std::wstring& name,
                                        uint32_t slot) {
  CScopedLock guard(lock_);
  if (!opened_) return false;
  const std::string base = PositionPath(channel, position);
  if (!document_.SetValueW(base + "/Name", name)) return false;
  if (!document_.SetValue(base + "/Slot", std::to_string(slot))) return false;
  if (saveEachWrite_) return document_.Save() == S_OK;
  return true;
}

bool CXMLPrepositionReader::PositionExists(uint32_t channel, uint32_t position) {
  CScopedLock guard(lock_);
  return document_.NodeExists(PositionPath(channel, position));
}

bool CXMLPrepositionReader::RemovePreset(uint32_t channel, uint32_t position) {
  CScopedLock guard(lock_);
  if (!opened_) return false;
  document_.RemoveNode(PositionPath(channel, position));
  if (saveEachWrite_) return document_.Save() == S_OK;
  return true;
}

void CXMLPrepositionReader::ClearChannel(uint32_t channel) {
  CScopedLock guard(lock_);
  document_.RemoveNode(maker_ + "/" + PresetChannelElement(channel));
}

bool CXMLPrepositionReader::Save() {
  CScopedLock guard(lock_);
  return opened_ && document_.Save() == S_OK;
}

void CXMLPrepositionReader::SetSaveEachWrite(bool enabled) {
  CScopedLock guard(lock_);
  saveEachWrite_ = enabled;
}

bool CXMLPrepositionReader::IsOpen() {
  CScopedLock guard(lock_);
  return opened_;
}

std::string CXMLPrepositionReader::GetFilePath() { return document_.GetFilePath(); }

std::string CXMLPrepositionReader::GetSetAsideName() {
  CScopedLock guard(lock_);
  return setAside_;
}

}  // namespace vantrel
