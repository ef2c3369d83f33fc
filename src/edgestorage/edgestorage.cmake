# Edge storage: gap detection over the live channels and replay of the camera's recordings.
lumivar_add_library(edgestorage
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/edgestorage/replay_frame_filter.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/edgestorage/base_edge_storage_handler.cpp
    ${CMAKE_SOURCE_DIR}/src/edgestorage/edge_storage_task.cpp
  DEPS channels_base control_rcp control_http streaming_parsers streaming_rtsp core foundation
  SYSLIBS ws2_32)
