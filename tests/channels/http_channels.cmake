lumivar_add_test(mjpeg_channel_http
  SOURCES ${CMAKE_SOURCE_DIR}/tests/channels/mjpeg_channel_http_test.cpp
  DEPS channels_http channels_base privacy_zones control_http control_rcp core foundation streaming_parsers
  SYSLIBS winhttp ws2_32 ole32 oleaut32 uuid)
if(LUMIVAR_WINDOWS)
  add_test(NAME integration_mjpeg_http
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/channels/mjpeg_http.sh $<TARGET_FILE:lumivar_host> $<TARGET_FILE:LumivarIPCapture>)
  set_tests_properties(integration_mjpeg_http PROPERTIES LABELS "wine;integration" TIMEOUT 240
    FIXTURES_REQUIRED camsim
    ENVIRONMENT "LUMIVAR_SOURCE_DIR=${CMAKE_SOURCE_DIR};LUMIVAR_BINARY_DIR=${CMAKE_BINARY_DIR}")
  lumivar_lock_cameras(integration_mjpeg_http 127.0.0.74)
endif()
