lumivar_add_test(logger_instance
  SOURCES ${CMAKE_SOURCE_DIR}/tests/core/logger_instance_test.cpp
  DEPS core foundation)
