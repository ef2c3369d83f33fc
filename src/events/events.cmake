# Motion state and the digital inputs and outputs of a device.
lumivar_add_library(events
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/events/io_states.cpp
    ${CMAKE_SOURCE_DIR}/src/events/motion_state.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/events/base_motion_channel.cpp
    ${CMAKE_SOURCE_DIR}/src/events/bosch_digital_io.cpp
    ${CMAKE_SOURCE_DIR}/src/events/io_base.cpp
    ${CMAKE_SOURCE_DIR}/src/events/motion_channel.cpp
  DEPS control_rcp core foundation
  SYSLIBS ws2_32)
