# Streaming throughput benchmark (a plain main(): native and Windows). Meaningful figures come
# from an optimized, sanitizer-free build: bench/run_streaming_bench.sh makes one.
if(NOT LUMIVAR_FUZZ)
  add_executable(streaming_bench ${CMAKE_SOURCE_DIR}/bench/streaming_bench.cpp)
  target_link_libraries(streaming_bench PRIVATE lumivar_options lumivar_streaming_parsers)
  target_include_directories(streaming_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
endif()
