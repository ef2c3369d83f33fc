# Audio capture: the RTP audio parser (portable, also fuzzed) and the audio channels.
lumivar_add_library(audio_parser
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/audio/base_rtp_audio_parser.cpp)
lumivar_add_library(audio_capture
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/audio/base_audio_rtsp_channel.cpp
    ${CMAKE_SOURCE_DIR}/src/audio/audio_capture_channel.cpp
  DEPS audio_parser channels_rtp control_rcp core foundation streaming_rtsp streaming_parsers
  SYSLIBS ws2_32)
