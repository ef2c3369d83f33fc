lumivar_add_fuzzer(rcp_input_stream SOURCE ${CMAKE_SOURCE_DIR}/fuzz/rcp_input_stream_fuzzer.cpp DEPS rcpplus)
