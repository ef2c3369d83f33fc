lumivar_add_fuzzer(camera_properties SOURCE ${CMAKE_SOURCE_DIR}/fuzz/camera_properties_fuzzer.cpp
  DEPS camera_properties channels_video audio_capabilities control_rcp rcpplus foundation)
if(TARGET fuzz_camera_properties)
  # The scripted camera and the recording result object are the tests' own.
  target_include_directories(fuzz_camera_properties PRIVATE ${CMAKE_SOURCE_DIR}/tests)
endif()
