lumivar_add_fuzzer(replay_frame_filter SOURCE ${CMAKE_SOURCE_DIR}/fuzz/replay_frame_filter_fuzzer.cpp DEPS edgestorage foundation)
