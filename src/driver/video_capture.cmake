# The host's video-capture object: the table of channels per camera input.
lumivar_add_library(video_capture
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/driver/ip_video_capture.cpp
  DEPS channels_base foundation)
