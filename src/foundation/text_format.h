// printf-style formatting into a std::string of exactly the formatted length, for log texts and
// result messages whose arguments come from the camera and may be of any length.
#pragma once

#include <cstdarg>
#include <string>

namespace vantrel {

// Empty for a null format or a formatting error.
std::string FormatTextV(const char* format, va_list args);

std::string FormatText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace vantrel
