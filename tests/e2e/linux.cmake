# End-to-end tests of the Linux program: the built binary run in copies of the program folders.
add_executable(vlm_e2e_linux ${CMAKE_CURRENT_LIST_DIR}/linux_e2e_test.cpp
               ${PROJECT_SOURCE_DIR}/pci/controller_ids.cpp)
target_include_directories(vlm_e2e_linux PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(vlm_e2e_linux PRIVATE vlm_rom_builder GTest::gtest GTest::gtest_main Threads::Threads)
target_compile_definitions(vlm_e2e_linux PRIVATE
    VLM_DEMO_DIR="${PROJECT_BINARY_DIR}/demo" VLM_HARDWARE_DIR="${PROJECT_BINARY_DIR}/hardware")
add_dependencies(vlm_e2e_linux vlm_program_folders)
gtest_discover_tests(vlm_e2e_linux DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS e2e)

# The program's records in a real systemd journal (a private journald; skipped where none can be
# started, saying why).
add_test(NAME LinuxProgram.JournalHoldsEveryOutcomeWithItsFields
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/journal_test.sh ${PROJECT_BINARY_DIR}/demo
            $<TARGET_FILE:make_sample_image>)
set_tests_properties(LinuxProgram.JournalHoldsEveryOutcomeWithItsFields PROPERTIES
    LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77 ENVIRONMENT_MODIFICATION
    "VLM270_EVENT_LOG=unset:;VLMIO_EMULATOR=unset:")
