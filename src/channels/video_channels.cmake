# The live video channels over RTSP and their camera-side encoder set-up.
lumivar_add_library(channels_video
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/channels/encoder_profiles.cpp
    ${CMAKE_SOURCE_DIR}/src/channels/rcp_stream_packet.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/channels/common_channel.cpp
    ${CMAKE_SOURCE_DIR}/src/channels/h264_channel_rtsp.cpp
    ${CMAKE_SOURCE_DIR}/src/channels/mjpeg_channel_rtsp.cpp
    ${CMAKE_SOURCE_DIR}/src/channels/mpeg_channel_rtp.cpp
    ${CMAKE_SOURCE_DIR}/src/channels/rcp_stream_receiver.cpp
  DEPS channels_rtp channels_base rcpplus control_rcp privacy_zones core foundation streaming_parsers
  SYSLIBS ws2_32)
