// One XML document in the platform's MSXML 3.0 DOM, addressed by slash-separated paths (plain
// element names, or XPath with predicates such as Device[@address="10.0.0.1"]). Settings live
// in the attribute "value" of the element a path names; camera replies are read as element text.
//
// File names: an absolute name (drive letter or UNC) is used as given; a relative one is placed
// under the base directory, or under the host executable's directory when there is none.
// Names are in the ANSI code page like every other file name in the driver; document text
// crosses this interface as UTF-8.
//
// Every call takes the object's lock, so one document can be shared by several threads. COM
// is joined to the multithreaded apartment on first use, so the document may be reached from
// any of the driver's threads.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "foundation/recursive_lock.h"

struct IXMLDOMDocument2;
struct IXMLDOMNode;

namespace vantrel {

class CXMLSettingsAPI {
 public:
  explicit CXMLSettingsAPI(std::string baseDirectory = {});
  ~CXMLSettingsAPI();

  CXMLSettingsAPI(const CXMLSettingsAPI&) = delete;
  CXMLSettingsAPI& operator=(const CXMLSettingsAPI&) = delete;

  // S_OK when the file existed, was not empty and parsed; otherwise a failure and no document.
  HRESULT LoadFile(const char* fileName);
  // 1 when a document with the XML declaration and an empty root element was saved under the
  // name; it then becomes the loaded document. 0 otherwise.
  int CreateFile(const char* fileName, const char* rootName);
  // Parses text into a new document (no file behind it). S_OK or a failure.
  HRESULT LoadXml(std::string_view text);

  std::string GetValue(const std::string& path);
  std::wstring GetValueW(const std::string& path);
  // Creates the missing elements of a path of plain names, then sets "value".
  bool SetValue(const std::string& path, const std::string& value);
  bool SetValueW(const std::string& path, const std::wstring& value);
  std::string GetText(const std::string& path);
  std::string GetAttribute(const std::string& path, const std::string& name);
  bool NodeExists(const std::string& path);
  bool RemoveNode(const std::string& path);
  // Writes the document back to the file it came from.
  HRESULT Save();

  bool IsLoaded();
  bool IsChanged();
  std::string GetFilePath();
  // Where a file name would be loaded from or saved to.
  std::string ResolvePath(const std::string& fileName) const;

 private:
  bool InitializeCom();
  HRESULT NewDocument(IXMLDOMDocument2** out);
  void ReleaseDocument();
  IXMLDOMNode* SelectNode(const std::string& path);
  bool SetAttributeLocked(const std::string& path, const std::wstring& value);

  CRecursiveLock lock_;
  // Guarded by lock_.
  IXMLDOMDocument2* document_ = nullptr;
  bool comInitialized_ = false;
  DWORD comThread_ = 0;
  const std::string baseDirectory_;
  std::string filePath_;
  bool changed_ = false;
  bool loaded_ = false;
};

}  // namespace vantrel
