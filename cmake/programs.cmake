# The Linux program and its two program folders:
#   hardware/  the program and the sysfs access library (real controllers, run as root)
#   demo/      the program, the emulated PC's access library, its machine file, a sample image
#              made at build time and the sample licence
# Folders and files may be written by their owner only: the program refuses an access library
# that group or others could replace.
if(WIN32 OR CMAKE_CROSSCOMPILING)
    return()
endif()

# The terminal screens, also linked by the tests.
add_library(vlm_terminal STATIC ${PROJECT_SOURCE_DIR}/programs/linux/terminal_front_end.cpp
    ${PROJECT_SOURCE_DIR}/programs/linux/terminal_render.cpp
    ${PROJECT_SOURCE_DIR}/programs/linux/options.cpp
    ${PROJECT_SOURCE_DIR}/programs/linux/report_output.cpp)
target_link_libraries(vlm_terminal PUBLIC vlm_system vlm_framework)
# The JSON report is built with nlohmann-json (header only).
find_package(nlohmann_json 3 REQUIRED)
target_link_libraries(vlm_terminal PRIVATE nlohmann_json::nlohmann_json)

add_executable(vlm270fwupdate ${PROJECT_SOURCE_DIR}/programs/linux/main.cpp)
target_link_libraries(vlm270fwupdate PRIVATE vlm_terminal vlm_system vlm_framework Threads::Threads)
target_compile_definitions(vlm270fwupdate PRIVATE VLM_VERSION="${PROJECT_VERSION}")
set_target_properties(vlm270fwupdate PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

set(VLM_HARDWARE_DIR ${PROJECT_BINARY_DIR}/hardware)
set(VLM_DEMO_DIR ${PROJECT_BINARY_DIR}/demo)
set(VLM_SAMPLE_IMAGE_NAME VLM270_Option_ROM.rom)
set(VLM_DEMO_MACHINE_FILE ${PROJECT_SOURCE_DIR}/tools/sample/emulated-pc.conf)
set(VLM_DEMO_LICENCE ${PROJECT_SOURCE_DIR}/tools/sample/License_Agreement.rtf)
set(VLM_PROGRAM_FOLDER_OUTPUTS)

set(hw_outputs ${VLM_HARDWARE_DIR}/vlm270fwupdate ${VLM_HARDWARE_DIR}/libvlmio.so)
add_custom_command(OUTPUT ${hw_outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VLM_HARDWARE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vlm270fwupdate> ${VLM_HARDWARE_DIR}/
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vlmio_sysfs> ${VLM_HARDWARE_DIR}/libvlmio.so
    COMMAND chmod 0755 ${VLM_HARDWARE_DIR} ${hw_outputs}
    DEPENDS vlm270fwupdate vlmio_sysfs
    COMMENT "Program folder hardware/"
    VERBATIM)
list(APPEND VLM_PROGRAM_FOLDER_OUTPUTS ${hw_outputs})

set(demo_programs ${VLM_DEMO_DIR}/vlm270fwupdate ${VLM_DEMO_DIR}/libvlmio.so)
set(demo_data ${VLM_DEMO_DIR}/emulated-pc.conf ${VLM_DEMO_DIR}/License_Agreement.rtf
    ${VLM_DEMO_DIR}/${VLM_SAMPLE_IMAGE_NAME})
add_custom_command(OUTPUT ${demo_programs} ${demo_data}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VLM_DEMO_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vlm270fwupdate> ${VLM_DEMO_DIR}/
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vlmio_emulator> ${VLM_DEMO_DIR}/libvlmio.so
    COMMAND ${CMAKE_COMMAND} -E copy ${VLM_DEMO_MACHINE_FILE} ${VLM_DEMO_LICENCE}
            ${VLM_DEMO_DIR}/
    COMMAND make_sample_image ${VLM_DEMO_DIR}/${VLM_SAMPLE_IMAGE_NAME}
    COMMAND chmod 0755 ${VLM_DEMO_DIR} ${demo_programs}
    COMMAND chmod 0644 ${demo_data}
    DEPENDS vlm270fwupdate vlmio_emulator make_sample_image ${VLM_DEMO_MACHINE_FILE}
            ${VLM_DEMO_LICENCE}
    COMMENT "Program folder demo/"
    VERBATIM)
list(APPEND VLM_PROGRAM_FOLDER_OUTPUTS ${demo_programs} ${demo_data})

add_custom_target(vlm_program_folders ALL DEPENDS ${VLM_PROGRAM_FOLDER_OUTPUTS})
