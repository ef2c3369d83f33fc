// Base64 (RFC 4648 standard alphabet, '=' padding) for RTSP Basic credentials and the parameter
// sets a camera puts into its SDP.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Encodes with a CR LF after every 76 output characters (none at the end), the MIME line length
// the RTSP Basic credentials have always been sent with.
std::string Base64Encode(const uint8_t* data, size_t size);
std::string Base64Encode(std::string_view text);

// Strict decoding: any character outside the alphabet, '=' anywhere but in the last one or two
// places of the final quantum, or a dangling single character fails and leaves `out` empty.
// Accepted leniencies: missing final padding (cameras omit it in sprop-parameter-sets) and CR/LF
// line breaks (produced by our own encoder).
bool Base64Decode(std::string_view text, std::vector<uint8_t>& out);

}  // namespace vantrel
