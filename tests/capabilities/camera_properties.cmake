lumivar_add_test(camera_properties PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/capabilities/camera_properties_test.cpp
  DEPS camera_properties channels_video audio_capabilities control_rcp rcpplus foundation)
