lumivar_add_test(rcp_input_stream PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/rcpplus/rcp_input_stream_test.cpp
  DEPS rcpplus)
lumivar_add_test(stream_framing PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/rcpplus/stream_framing_test.cpp
  DEPS rcpplus foundation)
