lumivar_add_test(rtcp_packet PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/streaming/rtcp_packet_test.cpp
  DEPS streaming_rtp)

lumivar_add_test(time_stamp_converter
  SOURCES ${CMAKE_SOURCE_DIR}/tests/streaming/time_stamp_converter_test.cpp
  DEPS streaming_rtp foundation)

lumivar_add_test(udp_client
  SOURCES ${CMAKE_SOURCE_DIR}/tests/streaming/udp_client_test.cpp
  DEPS streaming_rtp foundation
  SYSLIBS ws2_32)

lumivar_add_test(rtcp_handler
  SOURCES ${CMAKE_SOURCE_DIR}/tests/streaming/rtcp_handler_test.cpp
  DEPS streaming_rtp foundation
  SYSLIBS ws2_32)

lumivar_add_test(rtp_receiver_unit
  SOURCES ${CMAKE_SOURCE_DIR}/tests/streaming/rtp_receiver_unit_test.cpp
  DEPS streaming_rtp foundation streaming_parsers
  SYSLIBS ws2_32)

# Reception against a stand-in camera in another process: unicast on loopback, and multicast
# inside a network namespace of its own. Both run Wine themselves through the script.
if(LUMIVAR_WINDOWS)
  add_executable(test_rtp_receiver ${CMAKE_SOURCE_DIR}/tests/streaming/rtp_receiver_test.cpp)
  target_include_directories(test_rtp_receiver PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(test_rtp_receiver PRIVATE lumivar_options gmock gtest_main lumivar_streaming_rtp
    lumivar_foundation lumivar_streaming_parsers ws2_32)
  foreach(mode unicast multicast)
    add_test(NAME rtp_reception_${mode}
      COMMAND bash ${CMAKE_SOURCE_DIR}/tests/streaming/tools/run_with_sender.sh ${mode} $<TARGET_FILE:test_rtp_receiver>)
    set_tests_properties(rtp_reception_${mode} PROPERTIES LABELS "wine;reception" TIMEOUT 300)
  endforeach()
  # Only one namespace test at a time uses the namespace's Wine prefix.
  set_tests_properties(rtp_reception_multicast PROPERTIES RUN_SERIAL ON)
endif()
