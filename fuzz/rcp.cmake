lumivar_add_fuzzer(rcp_byte_lists SOURCE ${CMAKE_SOURCE_DIR}/fuzz/rcp_byte_lists_fuzzer.cpp DEPS control_rcp rcpplus foundation)
lumivar_add_fuzzer(rcp_reply_text SOURCE ${CMAKE_SOURCE_DIR}/fuzz/rcp_reply_text_fuzzer.cpp DEPS control_rcp)
