# The Windows program, cross-built with MinGW-w64, and its two program folders:
#   hardware/  VLM270FWUpdate.exe and XEventMessage.dll (the maker's vlmiodll.dll goes beside them)
#   demo/      the same, with the emulated PC's vlmiodll.dll, its machine file, a sample image and
#              the sample licence
# Build-time helpers (icon, resource script, sample image) are built with the build machine's
# own compiler.
if(NOT WIN32)
    return()
endif()

enable_language(RC)

target_link_libraries(vlm_framework PUBLIC comctl32 uxtheme advapi32 user32 gdi32)

# MinGW's GCC 12 at -O3 sees the SPI layer's whole-block reads through an inlined remainder it
# cannot bound, and warns of a write past the block that cannot happen.
set_source_files_properties(${PROJECT_SOURCE_DIR}/flash/spi_protocol.cpp TARGET_DIRECTORY vlm_system
    PROPERTIES COMPILE_OPTIONS -Wno-stringop-overflow)

set(VLM_GENERATED ${PROJECT_BINARY_DIR}/generated)
set(VLM_HOST_TOOLS ${PROJECT_BINARY_DIR}/host-tools)
set(VLM_HARDWARE_DIR ${PROJECT_BINARY_DIR}/hardware)
set(VLM_DEMO_DIR ${PROJECT_BINARY_DIR}/demo)
file(MAKE_DIRECTORY ${VLM_GENERATED} ${VLM_HOST_TOOLS})

find_program(VLM_HOST_CXX NAMES c++ g++ clang++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)

# Builds a helper for the build machine from the sources given (relative to the source tree).
function(vlm_host_tool name)
    set(sources)
    foreach(source ${ARGN})
        list(APPEND sources ${PROJECT_SOURCE_DIR}/${source})
    endforeach()
    add_custom_command(
        OUTPUT ${VLM_HOST_TOOLS}/${name}
        COMMAND ${VLM_HOST_CXX} -std=c++20 -O1 -I${PROJECT_SOURCE_DIR} -o ${VLM_HOST_TOOLS}/${name}
                ${sources}
        DEPENDS ${sources}
        COMMENT "Building ${name} for the build machine"
        VERBATIM)
endfunction()

vlm_host_tool(make_icon tools/make_icon.cpp)
vlm_host_tool(make_resource_script tools/make_resource_script.cpp res/dialog_templates.cpp
              framework/dialog_template.cpp framework/services.cpp)
vlm_host_tool(make_sample_image tools/make_sample_image.cpp tools/option_rom_builder.cpp
              pci/controller_ids.cpp)

# ---- Resources --------------------------------------------------------------------------------

add_custom_command(
    OUTPUT ${VLM_GENERATED}/VLM270FWUpdate.ico
    COMMAND ${VLM_HOST_TOOLS}/make_icon ${VLM_GENERATED}/VLM270FWUpdate.ico
    DEPENDS ${VLM_HOST_TOOLS}/make_icon
    VERBATIM)
add_custom_command(
    OUTPUT ${VLM_GENERATED}/program_resources.rc
    COMMAND ${VLM_HOST_TOOLS}/make_resource_script ${VLM_GENERATED}/program_resources.rc
            VLM270FWUpdate.ico
    DEPENDS ${VLM_HOST_TOOLS}/make_resource_script
    VERBATIM)
configure_file(${PROJECT_SOURCE_DIR}/res/win32/VLM270FWUpdate.rc.in
               ${VLM_GENERATED}/VLM270FWUpdate.rc @ONLY)
set_source_files_properties(${VLM_GENERATED}/VLM270FWUpdate.rc PROPERTIES OBJECT_DEPENDS
    "${VLM_GENERATED}/program_resources.rc;${VLM_GENERATED}/VLM270FWUpdate.ico;${PROJECT_SOURCE_DIR}/res/win32/VLM270FWUpdate.manifest")

# ---- The program ------------------------------------------------------------------------------

add_executable(VLM270FWUpdate WIN32
    ${PROJECT_SOURCE_DIR}/programs/windows/win_main.cpp
    ${VLM_GENERATED}/VLM270FWUpdate.rc)
target_include_directories(VLM270FWUpdate PRIVATE ${VLM_GENERATED} ${PROJECT_SOURCE_DIR}/res/win32)
# Whole: the application object is a static object nothing else refers to.
target_link_libraries(VLM270FWUpdate PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,vlm_system>"
                      vlm_framework)
set_target_properties(VLM270FWUpdate PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VLM_HARDWARE_DIR})

# ---- The event message file -------------------------------------------------------------------

add_custom_command(
    OUTPUT ${VLM_GENERATED}/XEventMessage.rc ${VLM_GENERATED}/XEventMessage.h
    COMMAND ${VLM_WINDMC} -c -r ${VLM_GENERATED} -h ${VLM_GENERATED}
            ${PROJECT_SOURCE_DIR}/res/win32/XEventMessage.mc
    DEPENDS ${PROJECT_SOURCE_DIR}/res/win32/XEventMessage.mc
    VERBATIM)
add_library(XEventMessage SHARED
    ${PROJECT_SOURCE_DIR}/programs/windows/event_message_dll.cpp
    ${VLM_GENERATED}/XEventMessage.rc)
target_include_directories(XEventMessage PRIVATE ${VLM_GENERATED})
set_target_properties(XEventMessage PROPERTIES
    PREFIX "" OUTPUT_NAME XEventMessage
    RUNTIME_OUTPUT_DIRECTORY ${VLM_HARDWARE_DIR}
    ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)

# ---- The demonstration folder -----------------------------------------------------------------

set(VLM_SAMPLE_IMAGE ${VLM_DEMO_DIR}/VLM270_Option_ROM.rom)
add_custom_command(
    OUTPUT ${VLM_SAMPLE_IMAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VLM_DEMO_DIR}
    COMMAND ${VLM_HOST_TOOLS}/make_sample_image ${VLM_SAMPLE_IMAGE}
    DEPENDS ${VLM_HOST_TOOLS}/make_sample_image
    VERBATIM)
add_custom_target(windows_demo ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VLM_DEMO_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:VLM270FWUpdate>
            $<TARGET_FILE:XEventMessage> $<TARGET_FILE:vlmio_emulator>
            ${PROJECT_SOURCE_DIR}/tools/sample/License_Agreement.rtf
            ${PROJECT_SOURCE_DIR}/tools/sample/emulated-pc.conf ${VLM_DEMO_DIR}
    DEPENDS ${VLM_SAMPLE_IMAGE} VLM270FWUpdate XEventMessage vlmio_emulator
    VERBATIM)

# ---- The test driver for the Wine tests -------------------------------------------------------

add_executable(win_test_driver ${PROJECT_SOURCE_DIR}/tools/win-test-driver.cpp)
target_link_libraries(win_test_driver PRIVATE user32 gdi32)
set_target_properties(win_test_driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/test)

# The Win32 window system checked on its own, without the application.
add_executable(win_backend_check ${PROJECT_SOURCE_DIR}/tests/win32/backend_check.cpp)
target_link_libraries(win_backend_check PRIVATE vlm_system vlm_framework)
set_target_properties(win_backend_check PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/test)
