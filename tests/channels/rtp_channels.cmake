# The RTP/RTSP channel machinery: filters, frame times and port search against in-process peers,
# and whole sessions against the camera simulator's RTSP servers (fixture rtsp_server).
lumivar_add_test(base_rtp_channel RUN_SERIAL
  SOURCES ${CMAKE_SOURCE_DIR}/tests/channels/base_rtp_channel_test.cpp
  DEPS channels_rtp channels_base streaming_rtp streaming_parsers configuration core foundation
  SYSLIBS ws2_32
  TIMEOUT 180)
lumivar_add_test(base_rtp_data_channel RUN_SERIAL
  SOURCES ${CMAKE_SOURCE_DIR}/tests/channels/base_rtp_data_channel_test.cpp
  DEPS channels_rtp channels_base streaming_rtp streaming_parsers configuration core foundation
  SYSLIBS ws2_32
  TIMEOUT 180)
lumivar_add_test(base_rtsp_channel RUN_SERIAL
  SOURCES ${CMAKE_SOURCE_DIR}/tests/channels/base_rtsp_channel_test.cpp
  DEPS channels_rtp channels_base streaming_rtsp streaming_rtp streaming_parsers configuration core foundation
  SYSLIBS ws2_32
  FIXTURES rtsp_server
  TIMEOUT 240)
