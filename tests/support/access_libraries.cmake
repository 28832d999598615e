# Access libraries for the loader's tests, and where the unit tests find them.
function(vlm_fake_vlmio name)
    add_library(${name} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/support/fake_vlmio.cpp)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${name} PRIVATE ${ARGN})
    set_target_properties(${name} PROPERTIES
        OUTPUT_NAME vlmio
        LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/fake-vlmio/${name}
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    add_dependencies(vlm_tests ${name})
endfunction()

vlm_fake_vlmio(fake_vlmio_whole)
vlm_fake_vlmio(fake_vlmio_emulated FAKE_VLMIO_EMULATED)
vlm_fake_vlmio(fake_vlmio_no_write_dword FAKE_VLMIO_WITHOUT_WRITE_DWORD)
target_compile_definitions(vlm_tests PRIVATE
    VLM_FAKE_VLMIO_WHOLE="$<TARGET_FILE:fake_vlmio_whole>"
    VLM_FAKE_VLMIO_EMULATED="$<TARGET_FILE:fake_vlmio_emulated>"
    VLM_FAKE_VLMIO_NO_WRITE_DWORD="$<TARGET_FILE:fake_vlmio_no_write_dword>")
add_dependencies(vlm_tests vlmio_sysfs)
target_compile_definitions(vlm_tests PRIVATE VLM_SYSFS_VLMIO="$<TARGET_FILE:vlmio_sysfs>")
