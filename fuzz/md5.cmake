lumivar_add_fuzzer(md5 SOURCE ${CMAKE_SOURCE_DIR}/fuzz/md5_fuzzer.cpp DEPS control_http)
