# RTSP client: request texts and session behaviour against an in-process scripted peer, and
# whole sessions against the camera simulator's RTSP servers (fixture rtsp_server).
lumivar_add_test(base_rtsp_client
  SOURCES ${CMAKE_SOURCE_DIR}/tests/streaming/base_rtsp_client_test.cpp
  DEPS streaming_rtsp streaming_parsers control_http foundation
  SYSLIBS ws2_32
  TIMEOUT 180)
lumivar_add_test(rtsp_client_camera_quirks
  SOURCES ${CMAKE_SOURCE_DIR}/tests/streaming/rtsp_client_camera_quirks_test.cpp
  DEPS streaming_rtsp streaming_parsers control_http foundation
  SYSLIBS ws2_32
  TIMEOUT 180)

if(LUMIVAR_WINDOWS)
  set(rtsp_fixture_state ${CMAKE_BINARY_DIR}/rtsp_client_servers)
  add_test(NAME rtsp_server_start
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/streaming/rtsp_client_servers.sh start ${rtsp_fixture_state})
  add_test(NAME rtsp_server_stop
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/streaming/rtsp_client_servers.sh stop ${rtsp_fixture_state})
  set_tests_properties(rtsp_server_start PROPERTIES FIXTURES_SETUP rtsp_server TIMEOUT 60 LABELS wine)
  set_tests_properties(rtsp_server_stop PROPERTIES FIXTURES_CLEANUP rtsp_server TIMEOUT 30 LABELS wine)
  lumivar_add_test(rtsp_client_camsim RUN_SERIAL
    SOURCES ${CMAKE_SOURCE_DIR}/tests/streaming/rtsp_client_camsim_test.cpp
    DEPS streaming_rtsp streaming_parsers control_http foundation
    SYSLIBS ws2_32
    FIXTURES rtsp_server
    TIMEOUT 240)
endif()
