lumivar_add_test(smoke PORTABLE SOURCES ${CMAKE_SOURCE_DIR}/tests/tools/smoke_test.cpp)
