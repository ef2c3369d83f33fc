# The test host: a C program that drives LumivarIPCapture.dll the way the recorder does, through
# vtables written from the slot tables (it includes none of the driver's headers).
if(LUMIVAR_WINDOWS)
  add_executable(lumivar_host
    ${CMAKE_SOURCE_DIR}/tools/host/audio_objects.c
    ${CMAKE_SOURCE_DIR}/tools/host/audio_out.c
    ${CMAKE_SOURCE_DIR}/tools/host/host.c
    ${CMAKE_SOURCE_DIR}/tools/host/host_objects.c
    ${CMAKE_SOURCE_DIR}/tools/host/event_modes.c
    ${CMAKE_SOURCE_DIR}/tools/host/frame_latency.c
    ${CMAKE_SOURCE_DIR}/tools/host/live_modes.c
    ${CMAKE_SOURCE_DIR}/tools/host/ptz_mode.c
    ${CMAKE_SOURCE_DIR}/tools/host/query_mode.c
    ${CMAKE_SOURCE_DIR}/tools/host/safety_mode.c
    ${CMAKE_SOURCE_DIR}/tools/host/edge_storage.c
    ${CMAKE_SOURCE_DIR}/tools/host/video_objects.c)
  set_target_properties(lumivar_host PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON)
  # GetProcessHandleCount, K32GetProcessMemoryInfo and Toolhelp come from kernel32 on Windows 7+.
  target_compile_definitions(lumivar_host PRIVATE _WIN32_WINNT=0x0601 PSAPI_VERSION=2)
  target_compile_options(lumivar_host PRIVATE -Wall -Wextra $<$<BOOL:${LUMIVAR_WERROR}>:-Werror>)
  target_link_options(lumivar_host PRIVATE -static -static-libgcc)
  # The host is only useful next to the library it loads.
  add_dependencies(lumivar_host LumivarIPCapture)
endif()
