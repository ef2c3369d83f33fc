# The contract every subsystem shares: the driver-services interface, the device connection
# record, the video settings record, and the logger that thins repeated failures.
lumivar_add_library(core
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/core/logger_instance.cpp
  DEPS foundation)
