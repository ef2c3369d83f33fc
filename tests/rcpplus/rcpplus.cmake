lumivar_add_test(rcp_input_stream PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/rcpplus/rcp_input_stream_test.cpp
  DEPS rcpplus)
lumivar_add_test(stream_framing PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/rcpplus/stream_framing_test.cpp
  DEPS rcpplus foundation)
# Our streaming library against in-process cameras, well-behaved and hostile.
lumivar_add_test(rtp_streamer
  SOURCES ${CMAKE_SOURCE_DIR}/tests/rcpplus/rtp_streamer_test.cpp
  DEPS rcpplus foundation
  SYSLIBS ws2_32
  TIMEOUT 180)
