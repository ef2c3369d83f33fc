lumivar_add_test(ip_video_capture
  SOURCES ${CMAKE_SOURCE_DIR}/tests/driver/ip_video_capture_test.cpp
  DEPS video_capture channels_base foundation
  SYSLIBS ws2_32
  TIMEOUT 120)
