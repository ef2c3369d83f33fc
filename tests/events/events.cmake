lumivar_add_test(event_states PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/events/event_states_test.cpp
  DEPS events)
lumivar_add_test(io_base
  SOURCES ${CMAKE_SOURCE_DIR}/tests/events/io_base_test.cpp
  DEPS events core foundation
  TIMEOUT 120)
