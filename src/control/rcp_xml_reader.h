// Reader of the XML document a camera sends back for an RCP+ request:
//
//   <rcp> ... <result> <hex>0x1f</hex> <dec>31</dec> <str>00 1b 2c</str> <err>0x0a</err> </result> </rcp>
//
// Only the four result elements are looked at; everything else in the reply is the camera's.
// An element that is absent reads as 0 or empty; "err" reads 255 when no reply was loaded, so
// a caller that checks only "err" never mistakes a broken reply for success.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/xml_settings_api.h"

namespace vantrel {

class CRcpXmlReader {
 public:
  static constexpr uint32_t kErrorNotLoaded = 255;

  CRcpXmlReader() = default;
  CRcpXmlReader(const CRcpXmlReader&) = delete;
  CRcpXmlReader& operator=(const CRcpXmlReader&) = delete;

  // Parses a reply; true and "loaded" when it is well-formed XML.
  bool Load(std::string_view reply);
  bool IsLoaded() const { return loaded_; }

  uint32_t GetHex();
  uint32_t GetDec();
  std::string GetString();
  // Bytes of "str"; empty unless the text is a lower-case hex byte list.
  std::vector<uint8_t> GetBytes();
  uint32_t GetError();

 private:
  std::string Text(const char* path);

  CXMLSettingsAPI document_;
  bool loaded_ = false;
};

}  // namespace vantrel
