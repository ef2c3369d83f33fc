# Streaming throughput benchmark (a plain main(): native and Windows). Meaningful figures come
# from an optimized, sanitizer-free build: bench/run_streaming_bench.sh makes one.
if(NOT LUMIVAR_FUZZ)
  add_executable(streaming_bench ${CMAKE_SOURCE_DIR}/bench/streaming_bench.cpp)
  target_link_libraries(streaming_bench PRIVATE lumivar_options lumivar_streaming_parsers)
  target_include_directories(streaming_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
endif()

# RTSP stop times and the stalled-host memory figure (Windows only: Winsock and Wine).
if(LUMIVAR_WINDOWS)
  add_executable(rtsp_stop_and_queue_bench ${CMAKE_SOURCE_DIR}/bench/rtsp_stop_and_queue_bench.cpp)
  target_link_libraries(rtsp_stop_and_queue_bench PRIVATE lumivar_options lumivar_streaming_rtsp
    lumivar_streaming_rtp lumivar_streaming_parsers lumivar_control_http lumivar_foundation ws2_32 psapi)
  target_include_directories(rtsp_stop_and_queue_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
endif()
