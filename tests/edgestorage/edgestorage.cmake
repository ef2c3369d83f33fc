lumivar_add_test(replay_frame_filter PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/edgestorage/replay_frame_filter_test.cpp
  DEPS edgestorage foundation)
lumivar_add_test(edge_storage_handler
  SOURCES ${CMAKE_SOURCE_DIR}/tests/edgestorage/base_edge_storage_handler_test.cpp
  DEPS edgestorage channels_base control_rcp control_http streaming_rtsp streaming_parsers core foundation
  SYSLIBS ws2_32 winhttp ole32 oleaut32 uuid
  TIMEOUT 120)
