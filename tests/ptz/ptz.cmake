lumivar_add_test(ptz_commands PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/ptz/ptz_command_test.cpp
  DEPS ptz_commands)
