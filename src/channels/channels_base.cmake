# The base every live video channel derives from, and the channel-side interfaces.
lumivar_add_library(channels_base
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/channels/base_camera_channel.cpp
  DEPS foundation
  SYSLIBS ws2_32)
