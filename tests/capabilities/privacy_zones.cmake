lumivar_add_test(privacy_zone_handler RUN_SERIAL
  SOURCES ${CMAKE_SOURCE_DIR}/tests/capabilities/privacy_zone_handler_test.cpp
  DEPS privacy_zones control_rcp control_http core foundation
  SYSLIBS winhttp ole32 oleaut32 uuid
  FIXTURES camsim TIMEOUT 300
  CAMERAS 127.0.0.12)
