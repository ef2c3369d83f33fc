# Camera simulator fixture: tests that talk to simulated cameras name FIXTURES camsim.
# The daemon is shared between build trees (see camsimctl.sh); its log is in the build dir.
if(NOT LUMIVAR_FUZZ)
  add_test(NAME camsim_start
    COMMAND ${CMAKE_SOURCE_DIR}/tools/camsim/camsimctl.sh start ${CMAKE_BINARY_DIR}/camsim)
  set_tests_properties(camsim_start PROPERTIES FIXTURES_SETUP camsim TIMEOUT 90 LABELS camsim)
  add_test(NAME camsim_stop
    COMMAND ${CMAKE_SOURCE_DIR}/tools/camsim/camsimctl.sh stop ${CMAKE_BINARY_DIR}/camsim)
  set_tests_properties(camsim_stop PROPERTIES FIXTURES_CLEANUP camsim TIMEOUT 60 LABELS camsim)
  # The simulator's own check runs once, in the native tree (it needs no Windows program).
  if(NOT LUMIVAR_WINDOWS)
    add_test(NAME camsim_selftest COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tools/camsim/selftest.py)
    set_tests_properties(camsim_selftest PROPERTIES FIXTURES_REQUIRED camsim TIMEOUT 120 LABELS "native;camsim")
    add_test(NAME camsim_ptz_decoder COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tools/camsim/ptz_decoder_test.py)
    set_tests_properties(camsim_ptz_decoder PROPERTIES TIMEOUT 60 LABELS native)
  endif()
endif()
