lumivar_add_fuzzer(motion_reply SOURCE ${CMAKE_SOURCE_DIR}/fuzz/motion_reply_fuzzer.cpp DEPS events control_rcp)
lumivar_add_fuzzer(io_state SOURCE ${CMAKE_SOURCE_DIR}/fuzz/io_state_fuzzer.cpp DEPS events control_rcp)
