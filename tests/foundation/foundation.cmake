# Threads, locks and time values run under Wine; the portable utilities also natively.
lumivar_add_test(foundation_threads RUN_SERIAL
  SOURCES
    ${CMAKE_SOURCE_DIR}/tests/foundation/event_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/foundation/recursive_lock_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/foundation/base_thread_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/foundation/callback_gate_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/foundation/queue_thread_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/foundation/tick_thread_test.cpp
  DEPS foundation
  TIMEOUT 120)
lumivar_add_test(foundation_time
  SOURCES ${CMAKE_SOURCE_DIR}/tests/foundation/time_value_test.cpp
  DEPS foundation
  TIMEOUT 60)
lumivar_add_test(foundation_portable PORTABLE
  SOURCES
    ${CMAKE_SOURCE_DIR}/tests/foundation/scale_converter_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/foundation/statistics_helper_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/foundation/smart_ptr_test.cpp
  DEPS foundation
  TIMEOUT 60)
