# The host's audio capture object: the open audio input channels of one device.
lumivar_add_library(ip_audio_capture
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/driver/ip_audio_capture.cpp
  DEPS foundation)
