lumivar_add_fuzzer(ptz_command SOURCE ${CMAKE_SOURCE_DIR}/fuzz/ptz_command_fuzzer.cpp DEPS ptz_commands)
lumivar_add_fuzzer(preset_text SOURCE ${CMAKE_SOURCE_DIR}/fuzz/preset_text_fuzzer.cpp DEPS ptz_commands)
