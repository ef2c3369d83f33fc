lumivar_add_test(ptz_commands PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/ptz/ptz_command_test.cpp
  DEPS ptz_commands)
lumivar_add_test(ptz_camsim
  SOURCES ${CMAKE_SOURCE_DIR}/tests/ptz/ptz_camsim_test.cpp
  DEPS ptz control_rcp control_http rcpplus core foundation
  SYSLIBS winhttp ole32 oleaut32 uuid
  FIXTURES camsim TIMEOUT 300
  CAMERAS 127.0.0.60 127.0.0.61)
lumivar_add_test(preposition_list
  SOURCES ${CMAKE_SOURCE_DIR}/tests/ptz/preposition_list_test.cpp
  DEPS ptz control_http core foundation
  SYSLIBS ole32 oleaut32 uuid)
lumivar_add_test(ptz_comm
  SOURCES ${CMAKE_SOURCE_DIR}/tests/ptz/ptz_comm_test.cpp
  DEPS ptz control_rcp control_http rcpplus core foundation
  SYSLIBS winhttp ole32 oleaut32 uuid)
