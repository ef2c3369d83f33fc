# The audio channel count and stereo flag in their text form (host parameters, capability report).
lumivar_add_library(audio_capabilities
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/capabilities/audio_capabilities.cpp
  DEPS foundation)
