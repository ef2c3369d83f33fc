# Our stand-in for the camera maker's RCP+ client library: the process-wide tear-down, the
# payload reader, and the streamer with its connection framing. The reader and the framing are
# portable, so they are tested under the sanitizers and fuzzed.
lumivar_add_library(rcpplus
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/rcpplus/rcp_input_stream.cpp
    ${CMAKE_SOURCE_DIR}/src/rcpplus/rcpplus_system.cpp
    ${CMAKE_SOURCE_DIR}/src/rcpplus/stream_framing.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/rcpplus/rtp_streamer.cpp
  SYSLIBS ws2_32)
