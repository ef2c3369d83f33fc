lumivar_add_fuzzer(rtcp_packet SOURCE ${CMAKE_SOURCE_DIR}/fuzz/rtcp_packet_fuzzer.cpp DEPS streaming_rtp)
