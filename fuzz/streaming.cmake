# Fuzz targets of the portable streaming parsers (seeds and kept crash inputs in
# fuzz/corpus/<name>/, replayed as tests in the native build).
foreach(name rtp_packet rtsp_response_parser sdp_response_parser rtsp_stream_parser rtsp_message_reader rtsp_url
             h264_rtp_media_parser jpeg_rtp_media_parser mpeg4_rtp_media_parser jpeg_media_parser)
  lumivar_add_fuzzer(${name} SOURCE ${CMAKE_SOURCE_DIR}/fuzz/${name}_fuzzer.cpp DEPS streaming_parsers)
endforeach()
