# Threads, events, locks, queues, time values and small utilities every subsystem builds on.
lumivar_add_library(foundation
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/foundation/scale_converter.cpp
    ${CMAKE_SOURCE_DIR}/src/foundation/text_format.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/foundation/event.cpp
    ${CMAKE_SOURCE_DIR}/src/foundation/hand_over_clock.cpp
    ${CMAKE_SOURCE_DIR}/src/foundation/recursive_lock.cpp
    ${CMAKE_SOURCE_DIR}/src/foundation/base_thread.cpp
    ${CMAKE_SOURCE_DIR}/src/foundation/callback_gate.cpp
    ${CMAKE_SOURCE_DIR}/src/foundation/teardown_queue.cpp
    ${CMAKE_SOURCE_DIR}/src/foundation/tick_thread.cpp
    ${CMAKE_SOURCE_DIR}/src/foundation/time_value.cpp
    ${CMAKE_SOURCE_DIR}/src/foundation/wake_signal.cpp
    ${CMAKE_SOURCE_DIR}/src/foundation/text_conversion.cpp
  SYSLIBS kernel32)
