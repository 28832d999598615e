# The emulated PC's shared access library, tested by loading the built file itself.
add_dependencies(vlm_tests vlmio_emulator)
target_compile_definitions(vlm_tests PRIVATE
    VLMIO_EMULATOR_LIBRARY="$<TARGET_FILE:vlmio_emulator>")
target_link_libraries(vlm_tests PRIVATE ${CMAKE_DL_LIBS})
