# Audio output: the channel's queue-thread statuses with scripted camera steps, the output
# channel's format, and the host-facing sender.
lumivar_add_test(audio_output
  SOURCES ${CMAKE_SOURCE_DIR}/tests/audio/audio_output_test.cpp
  DEPS audio_output channels_video channels_rtp channels_base control_rcp control_http core foundation rcpplus
  SYSLIBS ws2_32 winhttp ole32 oleaut32 uuid
  TIMEOUT 120)
