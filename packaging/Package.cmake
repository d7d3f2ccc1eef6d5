# The Debian package: every file the install rules put in place, one package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tkcontrol)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tkcontrol maintainers <maintainers@users.noreply.c-seed-a0a64034.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "supervisor for TK840 and TK960 temperature controllers")
# CPack indents these lines and marks the empty one for Debian.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "tkcontrol talks to one TK840 or TK960 temperature controller over a serial
line with Modbus RTU. It shows the measured temperature and the setpoint on
two seven-segment read-outs, traces both as curves and records them on
demand into semicolon-separated files.

The simulated controller tksim is included, to try the program without an
oven.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The panel's fonts: the seven-segment read-outs, and what stands in for
# Verdana and Arial (app/Fonts.cpp).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dseg, fonts-dejavu-core, fonts-liberation")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Makes tkrecord's service user at install time, and stops its recorders on
# removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/prerm)
include(CPack)
