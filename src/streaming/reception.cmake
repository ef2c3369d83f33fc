# RTP/RTCP reception: UDP sockets, the RTP packet queue, the RTCP handler and the RTP timestamp
# converter. The RTCP byte handling is portable so it is tested natively and fuzzed; the rest
# runs on Win32 threads and Winsock.
lumivar_add_library(streaming_rtp
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/streaming/rtcp_packet.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/streaming/udp_client.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/rtp_receiver.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/rtcp_handler.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/time_stamp_converter.cpp
  DEPS foundation streaming_parsers
  SYSLIBS ws2_32 winmm ole32)
