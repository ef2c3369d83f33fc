lumivar_add_fuzzer(http_digest SOURCE ${CMAKE_SOURCE_DIR}/fuzz/http_digest_fuzzer.cpp DEPS control_http)
