# What a camera can do, as the capability query learns and reports it.
lumivar_add_library(camera_properties
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/capabilities/camera_properties.cpp
    ${CMAKE_SOURCE_DIR}/src/capabilities/camera_stream_list.cpp
    ${CMAKE_SOURCE_DIR}/src/capabilities/encoder_profile_records.cpp
    ${CMAKE_SOURCE_DIR}/src/capabilities/lumivar_camera_properties.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/capabilities/rcp_http_property_source.cpp
  DEPS audio_capabilities control_rcp foundation)
