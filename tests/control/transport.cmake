# Camera-control transport tests. The HTTP tests talk to a small loopback server of their own
# (tests/control/server) on 127.0.0.201, which a CTest fixture starts detached and stops.
lumivar_add_test(md5 PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/control/md5_test.cpp
  DEPS control_http)

if(LUMIVAR_WINDOWS)
  set(control_http_server ${CMAKE_SOURCE_DIR}/tests/control/server/http_test_server.py)
  set(control_http_state ${CMAKE_BINARY_DIR}/control-http-test-server)
  add_test(NAME control_http_server_start
    COMMAND /usr/bin/python3 ${control_http_server} start --state ${control_http_state})
  add_test(NAME control_http_server_stop
    COMMAND /usr/bin/python3 ${control_http_server} stop --state ${control_http_state})
  set_tests_properties(control_http_server_start PROPERTIES FIXTURES_SETUP control_http_server LABELS wine TIMEOUT 30)
  set_tests_properties(control_http_server_stop PROPERTIES FIXTURES_CLEANUP control_http_server LABELS wine TIMEOUT 30)
endif()

lumivar_add_test(http_sender
  SOURCES ${CMAKE_SOURCE_DIR}/tests/control/http_sender_test.cpp
  DEPS control_http foundation
  FIXTURES control_http_server
  TIMEOUT 180)

lumivar_add_test(hutils
  SOURCES ${CMAKE_SOURCE_DIR}/tests/control/hutils_test.cpp
  DEPS control_http foundation
  FIXTURES control_http_server
  TIMEOUT 120)

lumivar_add_test(xml_settings_api
  SOURCES ${CMAKE_SOURCE_DIR}/tests/control/xml_settings_api_test.cpp
  DEPS control_http foundation
  TIMEOUT 120)

lumivar_add_test(http_digest PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/control/http_digest_test.cpp
  DEPS control_http)
