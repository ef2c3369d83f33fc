lumivar_add_fuzzer(rcp_input_stream SOURCE ${CMAKE_SOURCE_DIR}/fuzz/rcp_input_stream_fuzzer.cpp DEPS rcpplus)
lumivar_add_fuzzer(stream_framing SOURCE ${CMAKE_SOURCE_DIR}/fuzz/stream_framing_fuzzer.cpp DEPS rcpplus foundation)
lumivar_add_fuzzer(rcp_stream_packet SOURCE ${CMAKE_SOURCE_DIR}/fuzz/rcp_stream_packet_fuzzer.cpp DEPS channels_video foundation)
