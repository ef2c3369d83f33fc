# The driver object, its services to the rest of the library, and logging into the host.
lumivar_add_library(driver
  PORTABLE
    ${CMAKE_SOURCE_DIR}/src/driver/debug_info.cpp
    ${CMAKE_SOURCE_DIR}/src/driver/host_version.cpp
    ${CMAKE_SOURCE_DIR}/src/driver/parameter_text.cpp
  WINDOWS
    ${CMAKE_SOURCE_DIR}/src/driver/driver_factory.cpp
    ${CMAKE_SOURCE_DIR}/src/driver/host_version_reader.cpp
    ${CMAKE_SOURCE_DIR}/src/driver/ip_capture_driver.cpp
    ${CMAKE_SOURCE_DIR}/src/driver/lumivar_ip_capture_driver.cpp
  DEPS core audio_capabilities foundation rcpplus video_capture channels_base channels_video channels_http ptz events ip_audio_capture audio_capture audio_output edgestorage
  SYSLIBS version kernel32)
