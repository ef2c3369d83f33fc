# Our stand-in for the camera maker's RCP+ client library: the process-wide tear-down and the
# payload reader. Portable, so the reader is tested under the sanitizers and fuzzed.
lumivar_add_library(rcpplus
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/rcpplus/rcp_input_stream.cpp
    ${CMAKE_SOURCE_DIR}/src/rcpplus/rcpplus_system.cpp)
