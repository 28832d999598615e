# Hardening as Debian builds its own packages (dpkg-buildflags): the stack protector on functions
# with arrays or address-taken locals, format strings checked, fortified C library calls where
# the build is optimised, position-independent programs, and relocations read-only after start
# with every symbol bound at start (full RELRO). For the Linux builds; the Windows program takes
# address randomisation and no-execute data from the MinGW linker's defaults.
if(WIN32 OR MSVC)
    return()
endif()

include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

add_compile_options(-fstack-protector-strong -Wformat -Wformat-security -Wdate-time)
add_link_options(LINKER:-z,relro LINKER:-z,now)

# _FORTIFY_SOURCE needs optimisation (the C library warns without it, and warnings are errors),
# so the Debug builds go without; so do the sanitizer builds, whose address sanitizer checks
# those calls itself and does not see through the fortified ones. Level 3 where the
# compiler knows object sizes computed at run time, else 2. The compiler's own default, if any,
# is replaced.
include(CheckCXXSourceCompiles)
check_cxx_source_compiles([[
#if !defined(__has_builtin) || !__has_builtin(__builtin_dynamic_object_size)
#error no dynamic object sizes
#endif
int main() { return 0; }
]] VLM_HAS_DYNAMIC_OBJECT_SIZE)
if(VLM_HAS_DYNAMIC_OBJECT_SIZE)
    set(VLM_FORTIFY_LEVEL 3)
else()
    set(VLM_FORTIFY_LEVEL 2)
endif()
if(NOT VLM_SANITIZE)
    add_compile_options(
        "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${VLM_FORTIFY_LEVEL}>")
endif()
