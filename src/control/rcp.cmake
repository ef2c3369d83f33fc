# RCP+ over HTTP: request lines, reply reading and the byte lists cameras answer with.
lumivar_add_library(control_rcp
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/control/rcp_capability_list.cpp
    ${CMAKE_SOURCE_DIR}/src/control/rcp_record_list.cpp
    ${CMAKE_SOURCE_DIR}/src/control/rcp_reply_text.cpp
    ${CMAKE_SOURCE_DIR}/src/control/rcp_request_line.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/control/rcp_http.cpp
    ${CMAKE_SOURCE_DIR}/src/control/rcp_xml_reader.cpp
  DEPS control_http rcpplus foundation)
