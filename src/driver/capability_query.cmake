# The capability query: its module and the host's entry points to it.
lumivar_add_library(capability_query
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/driver/capability_query_module.cpp
  DEPS camera_properties channels_video control_rcp foundation)
