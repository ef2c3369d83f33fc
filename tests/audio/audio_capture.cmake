lumivar_add_test(base_rtp_audio_parser PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/audio/base_rtp_audio_parser_test.cpp
  DEPS audio_parser)
lumivar_add_test(audio_capture_channel RUN_SERIAL
  SOURCES ${CMAKE_SOURCE_DIR}/tests/audio/audio_capture_channel_test.cpp
  DEPS audio_capture audio_parser channels_rtp channels_base streaming_rtsp streaming_rtp streaming_parsers
    control_rcp configuration core foundation
  SYSLIBS ws2_32
  TIMEOUT 120)
