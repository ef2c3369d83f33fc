# Checks of the built product from the outside: what the DLL imports and exports, and the test
# host driving it through the C vtables.
if(LUMIVAR_WINDOWS)
  set(lumivar_exports CreateIPCapture CreateIPCaptureEx CreateIPCaptureEx2 CreateIPCaptureEx3 CreateIPCaptureEx4
    CreateIPCaptureEx5 DeleteIPCapture DeleteIPCaptureEx DeleteIPCaptureEx2 DeleteIPCaptureEx3 DeleteIPCaptureEx4
    DeleteIPCaptureEx5 InitCapabilityQuery StartCapabilityQuery TerminateCapabilityQuery UninitCapabilityQuery
    CreateCapabilityQueryModule DeleteCapabilityQueryModule LumivarDebugFrameArrivalTicks)
  add_test(NAME dll_imports
    COMMAND ${CMAKE_SOURCE_DIR}/tests/tools/check_pe_imports.sh $<TARGET_FILE:LumivarIPCapture> ${lumivar_exports})
  add_test(NAME host_imports
    COMMAND ${CMAKE_SOURCE_DIR}/tests/tools/check_pe_imports.sh $<TARGET_FILE:lumivar_host>)
  set_tests_properties(dll_imports host_imports PROPERTIES LABELS "native" TIMEOUT 60)

  set(expect ${CMAKE_SOURCE_DIR}/tests/driver/expect_host_output.sh $<TARGET_FILE:lumivar_host>)
  # Every factory version, opened and worked through; every accessor answers (null until its
  # object exists) and no reserved host slot is called.
  add_test(NAME host_all_factories COMMAND ${expect}
    --expect "^CreateIPCapture: created" --expect "^CreateIPCaptureEx5: created"
    --expect "^DeleteIPCaptureEx3: done" --expect "^accessor GetVideoCaptureEx2: [0-9A-Fa-f]+" --expect "^video capture: 2 channels"
    --expect "^accessor GetPTZDriver: [0-9A-Fa-f]+" --expect "^accessor GetPTZDriverEx: [0-9A-Fa-f]+"
    --expect "^LOG level=3 DRIVER IS OPENED \\(name: LumivarIPCapture, device model: Cam%s, FW: 7.1, address: 127.0.0.2:80\\)"
    --expect "^SUMMARY: OK: 6 drivers, 6 opened, 6 log lines"
    --reject "ERROR"
    -- -a 127.0.0.2 -m Cam%s -c 2 -p 1=1 -p 2=7.1 -p 3=00-07-5f-11-22-33 -p 8=2 -p 9=1 --require-open)
  # A host asking for audio input gets the audio capture object from every factory version that
  # has the accessor.
  add_test(NAME host_audio_input_opens COMMAND ${expect}
    --expect "^open: true" --expect "^accessor GetAudioCapture2: [0-9A-Fa-f]+" --expect "^accessor GetAudioSender: null"
    --expect "^SUMMARY: OK: 6 drivers, 6 opened" --reject "ERROR" --reject "^LOG level=1 "
    -- -p 101=Count=1\;\ IsStereo=0 --require-open)
  # Audio parameters that ask for nothing usable fail Open; the driver still closes and deletes.
  set(refused --expect "^open: false" --expect "^LOG level=1 .*no audio object" --expect "^DeleteIPCaptureEx4: done"
    --expect "^SUMMARY: OK: 1 drivers, 0 opened" --reject "ERROR")
  add_test(NAME host_audio_refused_zero_count COMMAND ${expect} ${refused} -- -f 4 -p 101=Count=0\;\ IsStereo=0)
  add_test(NAME host_audio_refused_both_zero COMMAND ${expect} ${refused}
    -- -f 4 -p 101=Count=0\;\ IsStereo=0 -p 102=Count=0\;\ IsStereo=0)
  add_test(NAME host_audio_refused_count_only COMMAND ${expect} ${refused} -- -f 4 -p 101=Count=1)
  add_test(NAME host_audio_refused_not_numbers COMMAND ${expect} ${refused} -- -f 4 -p 101=Count=x\;\ IsStereo=y)
  set_tests_properties(host_audio_refused_zero_count host_audio_refused_both_zero host_audio_refused_count_only
    host_audio_refused_not_numbers PROPERTIES LABELS "wine" TIMEOUT 120)
  # Input and output counts together: the capture object alone is enough for the step.
  add_test(NAME host_audio_input_and_silent_output COMMAND ${expect}
    --expect "^open: true" --expect "^accessor GetAudioCapture2: [0-9A-Fa-f]+"
    --expect "^SUMMARY: OK: 1 drivers, 1 opened" --reject "ERROR"
    -- -f 5 -p 101=Count=2\;IsStereo=1 -p 102=Count=0\;IsStereo=0 --require-open)
  add_test(NAME host_require_open COMMAND ${expect} --exit 1 --expect "^SUMMARY: FAILED"
    -- -f 0 -p 101=Count=0\;\ IsStereo=0 --require-open)
  # A host asking for audio output gets the audio sender.
  add_test(NAME host_audio_sender COMMAND ${expect}
    --expect "^open: true" --expect "^accessor GetAudioSender: [0-9A-Fa-f]+" --expect "^SUMMARY: OK: 1 drivers, 1 opened"
    -- -f 5 -p 102=Count=1\;\ IsStereo=0 --require-open)
  set_tests_properties(host_audio_sender PROPERTIES LABELS "wine" TIMEOUT 120)
  add_test(NAME host_bad_option COMMAND ${expect} --exit 2 -- -f 9)
  set_tests_properties(host_all_factories host_audio_input_opens host_audio_input_and_silent_output
    host_require_open host_bad_option
    PROPERTIES LABELS "wine" TIMEOUT 120)
endif()

# Includes point only down the layers (foundation at the bottom, driver on top); the native
# configuration runs it so that it is checked once per run.
if(LUMIVAR_NATIVE AND NOT LUMIVAR_FUZZ)
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  add_test(NAME layer_check COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check_layers.py ${CMAKE_SOURCE_DIR})
  set_tests_properties(layer_check PROPERTIES LABELS "native" TIMEOUT 60)
endif()
