# Installation like a Debian library: the shared library with its SONAME, the
# public headers in a folder of their own, the tools with their manual pages,
# btutil's bash completion, vrlbusd's systemd unit, a CMake package configuration, a pkg-config file, and
# a Debian package made by CPack.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(UTILS_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/utils)
set(UTILS_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/utils)

target_include_directories(utils INTERFACE $<INSTALL_INTERFACE:${UTILS_INSTALL_INCLUDEDIR}>)
install(TARGETS utils EXPORT utilsTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${UTILS_INSTALL_INCLUDEDIR}
        COMPONENT development FILES_MATCHING PATTERN "*.h")

install(TARGETS btutil RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(TARGETS vrlbusd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT runtime)

# The unit runs the daemon from where this installation puts it: the prefix is
# known only at install time (cmake --install --prefix, or CPack's /usr).
install(FILES ${PROJECT_SOURCE_DIR}/tools/vrlbusd/PROTOCOL.md ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(CODE "
  set(UTILS_VRLBUSD_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}/vrlbusd\")
  set(UTILS_DOC_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\")
  configure_file(${PROJECT_SOURCE_DIR}/tools/vrlbusd/vrlbusd.service
                 ${PROJECT_BINARY_DIR}/packaging/vrlbusd.service @ONLY)
  file(INSTALL ${PROJECT_BINARY_DIR}/packaging/vrlbusd.service
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
" COMPONENT runtime)

# The PAM service of the password check. With the prefix /usr (the package) it
# goes to the system's /etc/pam.d; any other prefix keeps it below itself.
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(UTILS_PAM_DIR \"/etc/pam.d\")
  else()
    set(UTILS_PAM_DIR \"\${CMAKE_INSTALL_PREFIX}/etc/pam.d\")
  endif()
  file(INSTALL ${PROJECT_SOURCE_DIR}/packaging/utils-unlock.pam DESTINATION \"\${UTILS_PAM_DIR}\"
       RENAME utils-unlock)
" COMPONENT runtime)
configure_file(${PROJECT_SOURCE_DIR}/packaging/conffiles ${PROJECT_BINARY_DIR}/packaging/conffiles COPYONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles)

# CMake package: find_package(utils CONFIG) gives utils::utils.
install(EXPORT utilsTargets NAMESPACE utils:: DESTINATION ${UTILS_INSTALL_CMAKEDIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/utilsConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/packaging/utilsConfig.cmake
                              INSTALL_DESTINATION ${UTILS_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/utilsConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/utilsConfig.cmake ${PROJECT_BINARY_DIR}/packaging/utilsConfigVersion.cmake
        DESTINATION ${UTILS_INSTALL_CMAKEDIR} COMPONENT development)

# pkg-config: paths relative to the prefix, so a staged tree works with
# pkg-config --define-prefix.
configure_file(${PROJECT_SOURCE_DIR}/packaging/utils.pc.in ${PROJECT_BINARY_DIR}/packaging/utils.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/utils.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# Manual pages, made from the tools' own help texts.
set(UTILS_MAN_DIR ${PROJECT_BINARY_DIR}/man)
foreach(page btutil.1 vrlbusd.8)
  string(REGEX REPLACE "\\.[0-9]$" "" tool ${page})
  string(REGEX REPLACE "^.*\\." "" section ${page})
  add_custom_command(
    OUTPUT ${UTILS_MAN_DIR}/${page}
    COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:${tool}> -DNAME=${tool} -DSECTION=${section}
            -DVERSION=${PROJECT_VERSION} -DOUTPUT=${UTILS_MAN_DIR}/${page}
            -P ${PROJECT_SOURCE_DIR}/packaging/help_to_man.cmake
    DEPENDS ${tool} ${PROJECT_SOURCE_DIR}/packaging/help_to_man.cmake ${PROJECT_SOURCE_DIR}/packaging/tool_help.cmake
    COMMENT "Manual page of ${tool}")
endforeach()
add_custom_target(manpages ALL DEPENDS ${UTILS_MAN_DIR}/btutil.1 ${UTILS_MAN_DIR}/vrlbusd.8)
install(FILES ${UTILS_MAN_DIR}/btutil.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES ${UTILS_MAN_DIR}/vrlbusd.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT runtime)

# btutil's bash completion, made from its help texts like the manual page, where
# bash-completion looks for a command's completion (its completionsdir).
set(UTILS_COMPLETION ${PROJECT_BINARY_DIR}/completion/btutil)
add_custom_command(
  OUTPUT ${UTILS_COMPLETION}
  COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:btutil> -DNAME=btutil -DOUTPUT=${UTILS_COMPLETION}
          -P ${PROJECT_SOURCE_DIR}/packaging/help_to_completion.cmake
  DEPENDS btutil ${PROJECT_SOURCE_DIR}/packaging/help_to_completion.cmake ${PROJECT_SOURCE_DIR}/packaging/tool_help.cmake
  COMMENT "Bash completion of btutil")
add_custom_target(completion ALL DEPENDS ${UTILS_COMPLETION})
install(FILES ${UTILS_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT runtime)

# The Debian package: everything in one package, dependencies worked out by
# dpkg-shlibdeps from the binaries themselves, plus BlueZ: the radio the
# library reports is BlueZ's, and its package creates the bluetooth group that
# vrlbusd's unit runs in and gives its socket to.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME libutils-bt)
set(CPACK_PACKAGE_VENDOR "utils developers")
set(CPACK_PACKAGE_CONTACT "utils developers <utils@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bluetooth suite utility library, btutil and vrlbusd")
set(CPACK_PACKAGE_DESCRIPTION
    "Tracing, device addresses, registry store, XML element trees, bus driver and radio access, \
request permissions and file-name list blocks for the Bluetooth suite's programs.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "bluez")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
include(CPack)
