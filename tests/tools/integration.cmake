# End-to-end tests: the test host drives LumivarIPCapture.dll under Wine against the camera
# simulator; every test checks what ffprobe/ffmpeg decode from the capture as well as the host's
# printed lines. Scripts live in tests/integration/ (lib.sh is their shared part).
if(LUMIVAR_WINDOWS)
  set(lumivar_it_dir ${CMAKE_SOURCE_DIR}/tests/integration)
  # name, timeout in seconds
  set(lumivar_it_tests
    h264_udp_basic 120
    h264_interleaved_digest 120
    mjpeg_rtsp 120
    signal_loss 240
    rtsp_restart 180
    multi_line 150
    update_settings 180
    pause_resume 150
    stop_bounds 240
    privacy_zones 120
    https 240
    ptz 120
    ptz_silent_close 120
    multicast 240
    cycles 900
    io_mode 120
    io_late_camera 150
    events_host_safety 240
    motion_mode 150
    audio_g711 150
    audio_aac 150
    audio_alaw 150
    audio_aac_fragments 150
    audio_signal_loss 180
    audio_multicast 240
    audio_cycles 600

    mpeg4_rcp 300
    audio_out 240
    audio_out_liveness 240
    audio_out_cycles 900

    edge_storage_replay 300
    edge_storage_no_storage 240
    edge_storage_stop 240
    edge_storage_rounds 420
    edge_storage_queue 600
    edge_storage_restart 300
    edge_storage_giveup 300

    raw_rtsp_digest 180
    raw_rtsp_session 180
    raw_rtsp_udp 120
    raw_rtsp_keepalive 240
    stream_sizes 120
    host_safety 600)
  while(lumivar_it_tests)
    list(POP_FRONT lumivar_it_tests name timeout)
    add_test(NAME integration_${name}
      COMMAND bash ${lumivar_it_dir}/${name}.sh $<TARGET_FILE:lumivar_host> $<TARGET_FILE:LumivarIPCapture>)
    set_tests_properties(integration_${name} PROPERTIES LABELS "wine;integration" TIMEOUT ${timeout}
      ENVIRONMENT "LUMIVAR_SOURCE_DIR=${CMAKE_SOURCE_DIR};LUMIVAR_BINARY_DIR=${CMAKE_BINARY_DIR}")
    # The multicast tests bring a simulator of its own inside its network namespace.
    if(NOT name MATCHES "multicast$")
      set_tests_properties(integration_${name} PROPERTIES FIXTURES_REQUIRED camsim)
      # The camera a script drives is its "cam=" line.
      file(STRINGS ${lumivar_it_dir}/${name}.sh cam_line REGEX "^cam=")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${lumivar_it_dir}/${name}.sh)
      string(REGEX REPLACE "^cam=" "" cam "${cam_line}")
      lumivar_lock_cameras(integration_${name} ${cam})
    endif()
  endwhile()
  # The longest scripts start first, so that a fresh run (no timings recorded yet) does not end
  # with one of them running alone.
  set_tests_properties(integration_edge_storage_queue PROPERTIES COST 400)
  # The safety matrix runs several hosts at once: it starts early, beside the long scripts.
  set_tests_properties(integration_host_safety PROPERTIES COST 300)
  set_tests_properties(integration_audio_cycles PROPERTIES COST 90)
  set_tests_properties(integration_cycles integration_edge_storage_rounds PROPERTIES COST 150)

  # The live modes' command line: bad values are refused before any driver is made.
  set(expect ${CMAKE_SOURCE_DIR}/tests/driver/expect_host_output.sh $<TARGET_FILE:lumivar_host>)
  foreach(bad "--size;0x480" "--size;640x" "--fps;0" "--quality;101" "--stream;1:4" "--zone;1,2,3"
              "--drivers;0" "--format;h265x"
              "--stream;0:2@640x" "--stream;0:2@0x480")
    string(REPLACE ";" "_" case "${bad}")
    string(REGEX REPLACE "[^A-Za-z0-9_]" "_" case "${case}")
    add_test(NAME host_live_refuses${case} COMMAND ${expect} --exit 2 -- live ${bad})
    set_tests_properties(host_live_refuses${case} PROPERTIES LABELS "wine" TIMEOUT 60)
  endforeach()
endif()
