# The per-installation XML configuration file the channels read when they start.
lumivar_add_library(configuration
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/driver/configuration.cpp
  DEPS control_http foundation
  SYSLIBS ws2_32)
