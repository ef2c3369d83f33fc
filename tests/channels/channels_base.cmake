lumivar_add_test(base_camera_channel
  SOURCES ${CMAKE_SOURCE_DIR}/tests/channels/base_camera_channel_test.cpp
  DEPS channels_base foundation
  SYSLIBS ws2_32
  TIMEOUT 120)
