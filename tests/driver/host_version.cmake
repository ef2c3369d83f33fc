# The host core version decides the level of the open message. Each case runs the test host from
# a directory of its own holding a "pellith.dll" with that product version (or none), while the
# working directory is elsewhere: the driver has to find the file next to the host executable.
if(LUMIVAR_WINDOWS)  # lumivar_host comes from tools/host, included after the tests
  set(hostver_root ${CMAKE_BINARY_DIR}/hostver)
  set(hostver_copies)
  foreach(case "6.2.0.0:3" "6.3.0.0:100" "5.11.0.0:2" "none:3")
    string(REPLACE ":" ";" parts ${case})
    list(GET parts 0 version)
    list(GET parts 1 level)
    set(dir ${hostver_root}/${version})
    if(NOT version STREQUAL "none")
      string(REPLACE "." "_" tag ${version})
      string(REPLACE "." "," PELLITH_VERSION_COMMAS ${version})
      set(PELLITH_VERSION ${version})
      configure_file(${CMAKE_SOURCE_DIR}/tests/driver/pellith/pellith.rc.in ${CMAKE_BINARY_DIR}/pellith_${tag}.rc @ONLY)
      add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/pellith_${tag}.res.o
        COMMAND ${CMAKE_RC_COMPILER} -i ${CMAKE_BINARY_DIR}/pellith_${tag}.rc -o ${CMAKE_BINARY_DIR}/pellith_${tag}.res.o
        DEPENDS ${CMAKE_BINARY_DIR}/pellith_${tag}.rc)
      add_library(pellith_${tag} SHARED ${CMAKE_SOURCE_DIR}/tests/driver/pellith/pellith_stub.c
        ${CMAKE_BINARY_DIR}/pellith_${tag}.res.o)
      set_target_properties(pellith_${tag} PROPERTIES PREFIX "" OUTPUT_NAME pellith
        RUNTIME_OUTPUT_DIRECTORY ${dir} LIBRARY_OUTPUT_DIRECTORY ${dir} ARCHIVE_OUTPUT_DIRECTORY ${dir})
      target_link_options(pellith_${tag} PRIVATE -static-libgcc)
      list(APPEND hostver_copies pellith_${tag})
    endif()
    add_custom_command(OUTPUT ${dir}/lumivar_host.exe ${dir}/LumivarIPCapture.dll
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:lumivar_host> $<TARGET_FILE:LumivarIPCapture> ${dir}
      DEPENDS lumivar_host LumivarIPCapture $<TARGET_FILE:lumivar_host> $<TARGET_FILE:LumivarIPCapture>)
    list(APPEND hostver_outputs ${dir}/lumivar_host.exe)
    add_test(NAME host_version_${version}
      COMMAND ${CMAKE_SOURCE_DIR}/tests/driver/expect_host_output.sh ${dir}/lumivar_host.exe
        --expect "^LOG level=${level} DRIVER IS OPENED \\(name: LumivarIPCapture, device model: M1, FW: 1.2, address: 127.0.0.9:8080\\)\r?$"
        --expect "^SUMMARY: OK: 1 drivers, 1 opened"
        -- -f 5 -a 127.0.0.9 -P 8080 -m M1 -p 1=0 -p 2=1.2
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(host_version_${version} PROPERTIES LABELS "wine" TIMEOUT 120)
  endforeach()
  add_custom_target(host_version_dirs ALL DEPENDS ${hostver_outputs} ${hostver_copies})
endif()
