// A file opened for reading while others may still read or write it; used to check that a
// document exists and has content before handing it to the XML parser.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace vantrel {

class CTobrinFileBase {
 public:
  CTobrinFileBase() = default;
  ~CTobrinFileBase() { Close(); }

  CTobrinFileBase(const CTobrinFileBase&) = delete;
  CTobrinFileBase& operator=(const CTobrinFileBase&) = delete;

  // Path in the ANSI code page, as the rest of the driver's file names.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
  // 0 when not open or the size cannot be read.
  uint64_t GetSize() const;

  // True when the file exists, can be opened for reading and is not empty.
  static bool ExistsAndNotEmpty(const std::string& path);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace vantrel
