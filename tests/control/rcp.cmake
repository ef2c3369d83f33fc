lumivar_add_test(rcp_byte_lists PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/control/rcp_byte_lists_test.cpp
  DEPS control_rcp rcpplus foundation)
lumivar_add_test(rcp_text PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/control/rcp_text_test.cpp
  DEPS control_rcp)
lumivar_add_test(rcp_http
  SOURCES ${CMAKE_SOURCE_DIR}/tests/control/rcp_http_test.cpp
  DEPS control_rcp control_http rcpplus foundation
  SYSLIBS winhttp ole32 oleaut32 uuid
  FIXTURES camsim TIMEOUT 300
  CAMERAS 127.0.0.10 127.0.0.11 127.0.0.12 127.0.0.13 127.0.0.14)
