# The live video channels over RTSP and their camera-side encoder set-up.
lumivar_add_library(channels_video
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/channels/encoder_profiles.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/channels/common_channel.cpp
    ${CMAKE_SOURCE_DIR}/src/channels/h264_channel_rtsp.cpp
    ${CMAKE_SOURCE_DIR}/src/channels/mjpeg_channel_rtsp.cpp
  DEPS channels_rtp channels_base control_rcp privacy_zones core foundation streaming_parsers
  SYSLIBS ws2_32)
