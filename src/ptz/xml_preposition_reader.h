// The preset file of a device: one XML document shared by the preset lists of all its
// channels. Layout:
//   <Bosch>
//     <PtzChannel01>                     channel + 1, two digits
//       <Preposition000>                 position in creation order, three digits
//         <Name value="Door"/> <Slot value="0"/>
// Calls are serialised by the reader's own lock (the lists of several channels share it).
#pragma once

#include <cstdint>
#include <string>

#include "control/xml_settings_api.h"
#include "foundation/recursive_lock.h"

namespace vantrel {

class CXMLPrepositionReader {
 public:
  explicit CXMLPrepositionReader(std::string maker);
  virtual ~CXMLPrepositionReader() = default;
  CXMLPrepositionReader(const CXMLPrepositionReader&) = delete;
  CXMLPrepositionReader& operator=(const CXMLPrepositionReader&) = delete;

  // Loads the file, or starts it empty when it does not exist. A file that exists but cannot
  // be parsed is renamed to "<name>.corrupt" first, so the user's presets are never
  // overwritten; GetSetAsideName tells where it went. False when no usable file results.
  bool Open(const std::string& fileName);
  // True when both the name and a well-formed slot were found.
  bool ReadPreset(uint32_t channel, uint32_t position, std::wstring& name, uint32_t& slot);
  // False when the file was never opened: a preset that cannot reach the disk is not saved.
  bool WritePreset(uint32_t channel, uint32_t position, const std::wstring& name, uint32_t slot);
  // Whether the position holds anything at all, usable or not.
  bool PositionExists(uint32_t channel, uint32_t position);
  // Removes one position and saves (unless saving is suspended).
  bool RemovePreset(uint32_t channel, uint32_t position);
  void ClearChannel(uint32_t channel);
  bool Save();
  // While suspended, WritePreset only changes the document; SaveAll writes the file once.
  void SetSaveEachWrite(bool enabled);

  bool IsOpen();
  std::string GetFilePath();
  std::string GetSetAsideName();
  CRecursiveLock& GetLock() { return lock_; }

 private:
  std::string PositionPath(uint32_t channel, uint32_t position) const;

  CRecursiveLock lock_;
  // Guarded by lock_.
  CXMLSettingsAPI document_;
  const std::string maker_;
  bool opened_ = false;
  bool saveEachWrite_ = true;
  std::string setAside_;
};

}  // namespace vantrel
