# The product: LumivarIPCapture.dll, linking every subsystem library.
get_property(lumivar_libs GLOBAL PROPERTY LUMIVAR_LIBRARIES)
add_library(LumivarIPCapture SHARED
  ${CMAKE_SOURCE_DIR}/src/driver/exports.cpp
  ${CMAKE_SOURCE_DIR}/src/driver/capability_query_exports.cpp
  ${CMAKE_SOURCE_DIR}/src/driver/LumivarIPCapture.def)
set_target_properties(LumivarIPCapture PROPERTIES PREFIX "" OUTPUT_NAME LumivarIPCapture)
target_link_libraries(LumivarIPCapture PRIVATE lumivar_options
  -Wl,--start-group ${lumivar_libs} -Wl,--end-group)
