# Motion JPEG polled as snapshots over HTTP (cameras of group 0).
lumivar_add_library(channels_http
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/channels/base_http_channel.cpp
    ${CMAKE_SOURCE_DIR}/src/channels/mjpeg_channel_http.cpp
  DEPS channels_base privacy_zones control_http control_rcp core foundation streaming_parsers)
