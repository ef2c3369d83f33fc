# Live-stream capacity benchmark: the test host's "multi" mode against a camera simulator that
# serves one pre-encoded 1080p25 4 Mbit/s H.264 clip. Not a test: bench/run_live_streams_bench.sh
# runs it and prints the figures. This target only builds what the script needs.
if(LUMIVAR_WINDOWS)
  add_custom_target(bench_live_streams
    COMMAND bash ${CMAKE_SOURCE_DIR}/bench/run_live_streams_bench.sh
    DEPENDS lumivar_host LumivarIPCapture
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    USES_TERMINAL
    COMMENT "Live-stream capacity benchmark (prints figures)")
endif()
