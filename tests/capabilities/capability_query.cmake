# The capability query end to end: the test host asks simulated camera models for their report.
if(LUMIVAR_WINDOWS)
  set(dir ${CMAKE_SOURCE_DIR}/tests/capabilities)
  # name, camera, extra host options ("," between words; "none")
  set(models
    fixed_h264 127.0.0.70 none
    ptz_dome 127.0.0.71 none
    fisheye 127.0.0.72 none
    encoder_4 127.0.0.73 none
    classic_group0 127.0.0.74 none
    audio 127.0.0.75 --api,module
    high_rate_60 127.0.0.76 --high-rate)
  while(models)
    list(POP_FRONT models name cam options)
    if(options STREQUAL "none")
      set(options)
    else()
      string(REPLACE "," ";" options "${options}")
    endif()
    add_test(NAME capability_query_${name}
      COMMAND bash ${dir}/query_report.sh $<TARGET_FILE:lumivar_host> $<TARGET_FILE:LumivarIPCapture> ${cam}
              ${dir}/reports/${name}.txt ${options})
    set_tests_properties(capability_query_${name} PROPERTIES LABELS "wine;integration" TIMEOUT 120
      FIXTURES_REQUIRED camsim
      ENVIRONMENT "LUMIVAR_SOURCE_DIR=${CMAKE_SOURCE_DIR};LUMIVAR_BINARY_DIR=${CMAKE_BINARY_DIR}")
    lumivar_lock_cameras(capability_query_${name} ${cam})
  endwhile()
  add_test(NAME capability_query_scenarios
    COMMAND bash ${dir}/query_scenarios.sh $<TARGET_FILE:lumivar_host> $<TARGET_FILE:LumivarIPCapture>)
  set_tests_properties(capability_query_scenarios PROPERTIES LABELS "wine;integration" TIMEOUT 400
    FIXTURES_REQUIRED camsim
    ENVIRONMENT "LUMIVAR_SOURCE_DIR=${CMAKE_SOURCE_DIR};LUMIVAR_BINARY_DIR=${CMAKE_BINARY_DIR}")
  lumivar_lock_cameras(capability_query_scenarios 127.0.0.70 127.0.0.77 127.0.0.78 127.0.0.79)
  # The integrator's path for every model: query, open with the report, start what it advertises.
  add_test(NAME capability_round_trip
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/integration/round_trip.py
            $<TARGET_FILE:lumivar_host> $<TARGET_FILE:LumivarIPCapture>
            --table ${CMAKE_BINARY_DIR}/round_trip/table.md)
  set_tests_properties(capability_round_trip PROPERTIES LABELS "wine;integration" TIMEOUT 600
    FIXTURES_REQUIRED camsim
    ENVIRONMENT "LUMIVAR_SOURCE_DIR=${CMAKE_SOURCE_DIR};LUMIVAR_BINARY_DIR=${CMAKE_BINARY_DIR}")
  lumivar_lock_cameras(capability_round_trip 127.0.0.70 127.0.0.71 127.0.0.72 127.0.0.73 127.0.0.74
    127.0.0.75 127.0.0.76)
endif()
