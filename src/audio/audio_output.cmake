# Audio output to the camera: the host-facing sender and its per-output queue-thread channels.
lumivar_add_library(audio_output
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/audio/base_audio_output_channel.cpp
    ${CMAKE_SOURCE_DIR}/src/audio/audio_output_channel.cpp
    ${CMAKE_SOURCE_DIR}/src/audio/ip_audio_sender.cpp
  DEPS channels_video control_rcp core foundation rcpplus)
