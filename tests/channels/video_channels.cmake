lumivar_add_test(encoder_profiles PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/channels/encoder_profiles_test.cpp
  DEPS channels_video)
lumivar_add_test(video_channels RUN_SERIAL
  SOURCES
    ${CMAKE_SOURCE_DIR}/tests/channels/common_channel_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/channels/h264_channel_rtsp_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/channels/mjpeg_channel_rtsp_test.cpp
  DEPS channels_video channels_rtp channels_base privacy_zones control_rcp control_http core foundation
  SYSLIBS ws2_32 winhttp ole32 oleaut32 uuid
  FIXTURES camsim TIMEOUT 300
  CAMERAS 127.0.0.12 127.0.0.15 127.0.0.17)
lumivar_add_test(rcp_stream_packet PORTABLE
  SOURCES ${CMAKE_SOURCE_DIR}/tests/channels/rcp_stream_packet_test.cpp
  DEPS channels_video foundation)
# The RCP+ stream receiver against in-process cameras of our streaming protocol.
lumivar_add_test(rcp_stream_receiver
  SOURCES ${CMAKE_SOURCE_DIR}/tests/channels/rcp_stream_receiver_test.cpp
  DEPS channels_video rcpplus foundation
  SYSLIBS ws2_32
  TIMEOUT 120)
# The MPEG-4 channel against a camera that speaks RCP+ over HTTPS only (its own TLS server).
if(LUMIVAR_WINDOWS)
  set(https_camera ${CMAKE_SOURCE_DIR}/tests/channels/server/https_camera.py)
  add_test(NAME https_camera_start
    COMMAND /usr/bin/python3 ${https_camera} start --state ${CMAKE_BINARY_DIR}/https-camera)
  add_test(NAME https_camera_stop
    COMMAND /usr/bin/python3 ${https_camera} stop --state ${CMAKE_BINARY_DIR}/https-camera)
  set_tests_properties(https_camera_start PROPERTIES FIXTURES_SETUP https_camera LABELS wine TIMEOUT 60)
  set_tests_properties(https_camera_stop PROPERTIES FIXTURES_CLEANUP https_camera LABELS wine TIMEOUT 30)
endif()
lumivar_add_test(mpeg_channel_rtp
  SOURCES ${CMAKE_SOURCE_DIR}/tests/channels/mpeg_channel_rtp_test.cpp
  DEPS channels_video channels_rtp channels_base privacy_zones control_rcp control_http rcpplus core foundation
  SYSLIBS ws2_32 winhttp ole32 oleaut32 uuid
  FIXTURES https_camera camsim
  TIMEOUT 180
  CAMERAS 127.0.0.202 127.0.0.30)
