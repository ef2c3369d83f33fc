# PTZ: serial frame builders (portable), presets and the host's PTZ driver.
lumivar_add_library(ptz_commands
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/ptz/ptz_command.cpp
    ${CMAKE_SOURCE_DIR}/src/ptz/preset_text.cpp)
lumivar_add_library(ptz
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/ptz/xml_preposition_reader.cpp
    ${CMAKE_SOURCE_DIR}/src/ptz/preposition_list.cpp
    ${CMAKE_SOURCE_DIR}/src/ptz/ptz_comm.cpp
    ${CMAKE_SOURCE_DIR}/src/ptz/ptz_control.cpp
    ${CMAKE_SOURCE_DIR}/src/ptz/ptz_handler.cpp
  DEPS ptz_commands control_rcp control_http core foundation)
