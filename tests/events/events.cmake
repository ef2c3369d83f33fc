lumivar_add_test(event_states PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/events/event_states_test.cpp
  DEPS events)
lumivar_add_test(io_base
  SOURCES ${CMAKE_SOURCE_DIR}/tests/events/io_base_test.cpp
  DEPS events core foundation
  TIMEOUT 120)
lumivar_add_test(motion_channel
  SOURCES ${CMAKE_SOURCE_DIR}/tests/events/motion_channel_test.cpp
  DEPS events control_rcp control_http core foundation
  SYSLIBS winhttp ole32 oleaut32 uuid ws2_32
  FIXTURES camsim TIMEOUT 300
  CAMERAS 127.0.0.50)
lumivar_add_test(bosch_digital_io
  SOURCES ${CMAKE_SOURCE_DIR}/tests/events/bosch_digital_io_test.cpp
  DEPS events control_rcp control_http core foundation
  SYSLIBS winhttp ole32 oleaut32 uuid ws2_32
  FIXTURES camsim TIMEOUT 300
  CAMERAS 127.0.0.51 127.0.0.52)
