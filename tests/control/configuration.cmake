lumivar_add_test(configuration
  SOURCES ${CMAKE_SOURCE_DIR}/tests/control/configuration_test.cpp
  DEPS configuration control_http foundation
  SYSLIBS ws2_32
  TIMEOUT 120)
