# The RTSP client: one session per channel on its own thread, over Winsock.
lumivar_add_library(streaming_rtsp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/streaming/base_rtsp_client.cpp
  DEPS streaming_parsers streaming_rtp control_http foundation
  SYSLIBS ws2_32)
# The control folder is configured after this one, so its MD5 library is linked by name once
# every target is known.
if(TARGET lumivar_streaming_rtsp)
  target_link_libraries(lumivar_streaming_rtsp PUBLIC $<TARGET_NAME_IF_EXISTS:lumivar_control_http>)
endif()
