lumivar_add_test(base_rtp_audio_parser PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/audio/base_rtp_audio_parser_test.cpp
  DEPS audio_parser)
