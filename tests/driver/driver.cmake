lumivar_add_test(driver_parameters PORTABLE
  SOURCES
    ${CMAKE_SOURCE_DIR}/tests/driver/parameter_text_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/driver/debug_info_test.cpp
  DEPS driver)
lumivar_add_test(ip_capture_driver
  SOURCES ${CMAKE_SOURCE_DIR}/tests/driver/ip_capture_driver_test.cpp
  DEPS driver core video_capture channels_base events foundation rcpplus)
lumivar_add_test(ip_audio_capture
  SOURCES ${CMAKE_SOURCE_DIR}/tests/driver/ip_audio_capture_test.cpp
  DEPS ip_audio_capture foundation)
# Stops and pauses from inside the frame callback through the whole driver, every live kind.
lumivar_add_test(live_stop RUN_SERIAL
  SOURCES ${CMAKE_SOURCE_DIR}/tests/driver/live_stop_test.cpp
  DEPS driver core video_capture channels_base events foundation rcpplus control_http
  SYSLIBS ws2_32 winhttp ole32 oleaut32 uuid
  FIXTURES camsim
  TIMEOUT 300
  CAMERAS 127.0.0.21 127.0.0.30)
