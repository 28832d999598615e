# Compiles through ccache where it is installed, for every preset (the Windows program's cross
# compilers and build-machine helpers too), so that a build folder made afresh, or another
# checkout, reuses what was compiled before. VLM_CCACHE=OFF compiles directly. A launcher given
# by the caller (CMAKE_<LANG>_COMPILER_LAUNCHER) is kept unless it is ccache itself.
#
# The unit tests share a precompiled header: ccache caches the sources compiled with it only
# where its sloppiness takes in pch_defines and time_macros, which is added for this build's
# compilations to whatever sloppiness ccache is configured with.
option(VLM_CCACHE "Compile through ccache where it is installed" ON)
set(VLM_COMPILER_LAUNCHER "")
if(VLM_CCACHE)
    find_program(VLM_CCACHE_PROGRAM ccache)
    if(VLM_CCACHE_PROGRAM)
        execute_process(COMMAND ${VLM_CCACHE_PROGRAM} --get-config sloppiness
                        OUTPUT_VARIABLE vlm_sloppiness OUTPUT_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE vlm_ccache_status ERROR_QUIET)
        if(NOT vlm_ccache_status EQUAL 0)
            set(vlm_sloppiness "")
        endif()
        string(REPLACE " " "" vlm_sloppiness "${vlm_sloppiness}")
        string(REPLACE "," ";" vlm_sloppiness "${vlm_sloppiness}")
        list(APPEND vlm_sloppiness pch_defines time_macros)
        list(REMOVE_DUPLICATES vlm_sloppiness)
        list(REMOVE_ITEM vlm_sloppiness "")
        list(JOIN vlm_sloppiness "," vlm_sloppiness)
        set(VLM_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_SLOPPINESS=${vlm_sloppiness}
            ${VLM_CCACHE_PROGRAM})
        foreach(lang C CXX)
            if(NOT CMAKE_${lang}_COMPILER_LAUNCHER OR CMAKE_${lang}_COMPILER_LAUNCHER MATCHES "ccache$")
                set(CMAKE_${lang}_COMPILER_LAUNCHER ${VLM_COMPILER_LAUNCHER})
            endif()
        endforeach()
    endif()
endif()
