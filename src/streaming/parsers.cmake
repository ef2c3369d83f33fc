# Byte-level streaming code: RTSP/SDP parsing, RTP packets and the media depacketizers. Portable
# (no windows.h) so that it is also built natively under the sanitizers and fuzzed.
lumivar_add_library(streaming_parsers
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/streaming/base64.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/key_value.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/sdp_response_parser.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/rtsp_response_parser.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/rtsp_stream_parser.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/rtsp_message_reader.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/rtsp_url.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/rtp_packet.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/rtp_reorder_buffer.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/rtp_media_parser.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/h264_sps_reader.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/h264_rtp_media_parser.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/jpeg_header_builder.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/jpeg_rtp_media_parser.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/mp4_parser.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/mpeg4_rtp_media_parser.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/http_media_parser.cpp
    ${CMAKE_SOURCE_DIR}/src/streaming/jpeg_media_parser.cpp
  # The Digest challenge reader is shared with the HTTP transport.
  DEPS control_http)
