lumivar_add_test(rcp_input_stream PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/rcpplus/rcp_input_stream_test.cpp
  DEPS rcpplus)
