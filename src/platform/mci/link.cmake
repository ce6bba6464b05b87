# The MCI wave device's back ends: every XxxBackend.cpp in this folder defines
# RegisterXxxBackend(); the list is written here so a new back end is one new file.
# PortAudio plays and records through the machine's default devices.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PORTAUDIO REQUIRED IMPORTED_TARGET portaudio-2.0)
# ALSA only to keep its configuration complaints off stderr while PortAudio probes it.
if(NOT TARGET PkgConfig::ALSA)
    pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
endif()
# Their headers only: both libraries are loaded on first use (see platform/lazy).
target_include_directories(platform_core PRIVATE ${PORTAUDIO_INCLUDE_DIRS} ${ALSA_INCLUDE_DIRS})
target_link_libraries(platform_core PUBLIC ${CMAKE_DL_LIBS})

file(GLOB mci_backend_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*Backend.cpp)
set(mci_backend_list "")
foreach(f ${mci_backend_files})
    get_filename_component(n ${f} NAME_WE)
    string(REGEX REPLACE "Backend$" "" n ${n})
    if(NOT n STREQUAL "Audio")
        string(APPEND mci_backend_list "KORRIN_AUDIO_BACKEND(${n})\n")
    endif()
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/platform/mci/AudioBackendList.inc
     CONTENT "${mci_backend_list}")
target_include_directories(platform_core PRIVATE ${CMAKE_BINARY_DIR}/generated)
