lumivar_add_fuzzer(camera_properties SOURCE ${CMAKE_SOURCE_DIR}/fuzz/camera_properties_fuzzer.cpp
  DEPS camera_properties channels_video audio_capabilities control_rcp rcpplus foundation)
target_include_directories(fuzz_camera_properties PRIVATE ${CMAKE_SOURCE_DIR}/tests)
