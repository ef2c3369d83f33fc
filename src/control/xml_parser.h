// Read-only view of an XML file, for importing older configuration files.
#pragma once

#include <string>

#include "control/xml_settings_api.h"

namespace vantrel {

class CXMLParser {
 public:
  CXMLParser() = default;

  // Full path of the file; false when it is missing, empty or not XML.
  bool Load(const std::string& path);
  bool NodeExists(const std::string& xpath);
  // Empty when the node or the attribute is missing.
  std::string GetAttribute(const std::string& xpath, const std::string& name);

 private:
  CXMLSettingsAPI document_;
};

}  // namespace vantrel
