# Tests of the portable streaming parsers: unit tests (native under ASan/UBSan and under Wine)
# and, natively, the check of our depacketizers against real GStreamer payloaders and ffmpeg.
set(parsers_tests
  base64 rtp_packet rtp_reorder_buffer rtsp_response_parser sdp_response_parser rtsp_stream_parser rtsp_message_reader
  h264_rtp_media_parser jpeg_rtp_media_parser mpeg4_rtp_media_parser jpeg_media_parser)
foreach(t ${parsers_tests})
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/streaming/${t}_test.cpp)
    lumivar_add_test(${t} PORTABLE
      SOURCES ${CMAKE_SOURCE_DIR}/tests/streaming/${t}_test.cpp
      DEPS streaming_parsers TIMEOUT 120)
  endif()
endforeach()

if(NOT LUMIVAR_WINDOWS AND NOT LUMIVAR_FUZZ)
  add_executable(depacketize_tool ${CMAKE_SOURCE_DIR}/tests/streaming/depacketize_tool.cpp)
  target_link_libraries(depacketize_tool PRIVATE lumivar_options lumivar_streaming_parsers)
  target_include_directories(depacketize_tool PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME real_payloaders
    COMMAND ${CMAKE_SOURCE_DIR}/tests/streaming/fixtures/check_real_payloaders.sh
      $<TARGET_FILE:depacketize_tool> ${CMAKE_BINARY_DIR}/real_payloaders)
  set_tests_properties(real_payloaders PROPERTIES LABELS "native;media" TIMEOUT 300)
endif()
