#include "control/xml_parser.h"

namespace vantrel {

bool CXMLParser::Load(const std::string& path) { return document_.LoadFile(path.c_str()) == S_OK; }

bool CXMLParser::NodeExists(const std::string& xpath) { return document_.NodeExists(xpath); }

std::string CXMLParser::GetAttribute(const std::string& xpath, const std::string& name) {
  return document_.GetAttribute(xpath, name);
}

}  // namespace vantrel
