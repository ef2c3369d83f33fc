# The RTP/RTSP reception machinery the live video and audio channels are built on.
lumivar_add_library(channels_rtp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/channels/base_rtp_channel.cpp
    ${CMAKE_SOURCE_DIR}/src/channels/base_rtsp_channel.cpp
    ${CMAKE_SOURCE_DIR}/src/channels/base_rtp_data_channel.cpp
  DEPS channels_base streaming_rtsp streaming_rtp streaming_parsers configuration core foundation
  SYSLIBS ws2_32)
