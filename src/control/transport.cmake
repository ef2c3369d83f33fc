# Camera-control transport: HTTP client, HTTP helpers, MD5, result records and XML documents.
lumivar_add_library(control_http
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/control/md5.cpp
    ${CMAKE_SOURCE_DIR}/src/control/http_digest.cpp
    ${CMAKE_SOURCE_DIR}/src/control/result_def.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/control/http_sender.cpp
    ${CMAKE_SOURCE_DIR}/src/control/hutils.cpp
    ${CMAKE_SOURCE_DIR}/src/control/tobrin_file_base.cpp
    ${CMAKE_SOURCE_DIR}/src/control/xml_settings_api.cpp
    ${CMAKE_SOURCE_DIR}/src/control/xml_parser.cpp
  DEPS foundation
  SYSLIBS winhttp ole32 oleaut32 uuid)
