lumivar_add_test(audio_capabilities PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/capabilities/audio_capabilities_test.cpp
  DEPS audio_capabilities foundation)
