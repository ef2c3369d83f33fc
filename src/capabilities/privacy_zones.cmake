# Privacy zones: the host's rectangles turned into the camera's zone grid over RCP+.
lumivar_add_library(privacy_zones
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/capabilities/privacy_zone_handler.cpp
  DEPS control_rcp core foundation)
