# The mixer over ALSA. Every XxxMixerBackend.cpp in this folder defines
# RegisterXxxMixerBackend(); the list is written here so a new back end is one new file.
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::ALSA)
    pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
endif()
# The header only: the library is loaded on first use (see platform/lazy).
target_include_directories(platform_core PRIVATE ${ALSA_INCLUDE_DIRS})

file(GLOB mixer_backend_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*MixerBackend.cpp)
set(mixer_backend_list "")
foreach(f ${mixer_backend_files})
    get_filename_component(n ${f} NAME_WE)
    string(REGEX REPLACE "MixerBackend$" "" n ${n})
    if(NOT n STREQUAL "")
        string(APPEND mixer_backend_list "KORRIN_MIXER_BACKEND(${n})\n")
    endif()
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/platform/mixer/MixerBackendList.inc
     CONTENT "${mixer_backend_list}")
target_include_directories(platform_core PRIVATE ${CMAKE_BINARY_DIR}/generated)
