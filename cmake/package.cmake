# Installing the Linux program, and its Debian package (cpack -G DEB):
#   /usr/lib/vlm270fwupdate/vlm270fwupdate   the program
#   /usr/lib/vlm270fwupdate/libvlmio.so      its access library for real hardware (sysfs)
#   /usr/sbin/vlm270fwupdate                 a link to the program
#   /usr/share/man/man8/vlm270fwupdate.8.gz, bash completion, README, JSON report fields
# The package ships the hardware folder only: the emulated PC is for trying the program and for
# tests, and its library beside an installed program would stand in for the real hardware.
if(WIN32 OR CMAKE_CROSSCOMPILING)
    return()
endif()

set(VLM_PACKAGE_NAME vlm270fwupdate)
set(VLM_PROGRAM_INSTALL_DIR lib/${VLM_PACKAGE_NAME})
set(VLM_PACKAGE_SOURCE ${PROJECT_SOURCE_DIR}/programs/linux/package)
set(VLM_PACKAGE_BUILD ${PROJECT_BINARY_DIR}/package-files)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(VLM_FILE_MODE OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(VLM_PROGRAM_MODE ${VLM_FILE_MODE} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)

# The link and the compressed manual and changelog, made at build time.
file(MAKE_DIRECTORY ${VLM_PACKAGE_BUILD})
file(CREATE_LINK ../${VLM_PROGRAM_INSTALL_DIR}/vlm270fwupdate ${VLM_PACKAGE_BUILD}/vlm270fwupdate
     SYMBOLIC)
add_custom_command(OUTPUT ${VLM_PACKAGE_BUILD}/vlm270fwupdate.8.gz
    COMMAND gzip -9n -c ${VLM_PACKAGE_SOURCE}/vlm270fwupdate.8 > ${VLM_PACKAGE_BUILD}/vlm270fwupdate.8.gz
    DEPENDS ${VLM_PACKAGE_SOURCE}/vlm270fwupdate.8
    COMMENT "Manual page vlm270fwupdate(8)")
add_custom_command(OUTPUT ${VLM_PACKAGE_BUILD}/changelog.gz
    COMMAND gzip -9n -c ${VLM_PACKAGE_SOURCE}/changelog > ${VLM_PACKAGE_BUILD}/changelog.gz
    DEPENDS ${VLM_PACKAGE_SOURCE}/changelog
    COMMENT "Package changelog")
add_custom_target(vlm_package_files ALL
    DEPENDS ${VLM_PACKAGE_BUILD}/vlm270fwupdate.8.gz ${VLM_PACKAGE_BUILD}/changelog.gz)

# As targets, so that the package's copies are stripped (CPACK_STRIP_FILES).
install(TARGETS vlm270fwupdate RUNTIME DESTINATION ${VLM_PROGRAM_INSTALL_DIR}
        PERMISSIONS ${VLM_PROGRAM_MODE})
install(TARGETS vlmio_sysfs LIBRARY DESTINATION ${VLM_PROGRAM_INSTALL_DIR}
        PERMISSIONS ${VLM_FILE_MODE})
install(FILES ${VLM_PACKAGE_BUILD}/vlm270fwupdate DESTINATION sbin)
install(FILES ${VLM_PACKAGE_BUILD}/vlm270fwupdate.8.gz DESTINATION share/man/man8
        PERMISSIONS ${VLM_FILE_MODE})
install(FILES ${VLM_PACKAGE_SOURCE}/vlm270fwupdate.bash-completion
        DESTINATION share/bash-completion/completions RENAME vlm270fwupdate
        PERMISSIONS ${VLM_FILE_MODE})
install(FILES ${VLM_PACKAGE_SOURCE}/copyright ${VLM_PACKAGE_BUILD}/changelog.gz
              ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/json-report.md
              ${PROJECT_SOURCE_DIR}/docs/json-report.schema.json
        DESTINATION share/doc/${VLM_PACKAGE_NAME} PERMISSIONS ${VLM_FILE_MODE})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VLM_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Velmora 270 tool maintainers <maintainers@velmora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "option-ROM firmware updater for 270X SATA/PATA controllers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Rewrites the option-ROM firmware held in the SPI flash of every 270X\n\
SATA/PATA host controller of the computer (up to four): it identifies each\n\
flash part, erases, writes and verifies it. A read-only probe (--list),\n\
backups (--backup), a verify-only run (--verify) and JSON reports (--json)\n\
serve administrators and scripts; outcomes go to the systemd journal.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program and its access library are linked with (the package test checks
# that these packages provide each of them). Named here rather than found by dpkg-shlibdeps:
# that would also call ldconfig for a library that is the program's own, not the system's.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12), libsystemd0, libssl3")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
