# Fuzz target of the RTP audio parser (RFC 3640 AU headers, G.711 buffering); seeds and kept
# crash inputs in fuzz/corpus/base_rtp_audio_parser/.
lumivar_add_fuzzer(base_rtp_audio_parser SOURCE ${CMAKE_SOURCE_DIR}/fuzz/base_rtp_audio_parser_fuzzer.cpp
  DEPS audio_parser streaming_parsers)
