// One-shot HTTP helpers on top of Web::CHttpSender, reporting in CResultDef terms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control/http_sender.h"
#include "control/md5.h"
#include "control/result_def.h"

namespace vantrel::HUtils {

// GET of path into buffer. On success the buffer holds the body followed by one zero byte, so
// text replies can be read as C strings. The request is closed on return whatever happened.
CResultDef RequestGetRD(Web::CHttpSender& sender, const std::string& path, std::vector<uint8_t>& buffer);

// The same, reduced to whether the code is 0.
bool RequestGet(Web::CHttpSender& sender, const std::string& path, std::vector<uint8_t>& buffer);

}  // namespace vantrel::HUtils
