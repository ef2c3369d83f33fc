#include "control/tobrin_file_base.h"

namespace vantrel {

bool CTobrinFileBase::Open(const std::string& path) {
  Close();
  if (path.empty()) return false;
  file_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  return IsOpen();
}

void CTobrinFileBase::Close() {
  if (IsOpen()) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

uint64_t CTobrinFileBase::GetSize() const {
  if (!IsOpen()) return 0;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file_, &size) || size.QuadPart < 0) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

bool CTobrinFileBase::ExistsAndNotEmpty(const std::string& path) {
  CTobrinFileBase file;
  return file.Open(path) && file.GetSize() > 0;
}

}  // namespace vantrel
