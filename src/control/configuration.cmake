# The per-installation XML configuration file the channels read when they start.
lumivar_add_library(configuration
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/control/configuration.cpp
  DEPS control_http core foundation
  SYSLIBS ws2_32)
