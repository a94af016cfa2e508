# `cpack -G DEB` in the build folder: a Debian package of the installed program. The libraries
# it links come from dpkg-shlibdeps; what it loads without linking is named here.
set(CPACK_PACKAGE_NAME kelvra)
set(CPACK_PACKAGE_VENDOR "Kelvra team")
set(CPACK_PACKAGE_CONTACT "Kelvra team <team@kelvra.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Time-lapse and frame-by-frame video recorder for cameras")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Records time-lapse and frame-by-frame (stop-motion) video from a camera into AVI files.\n"
  "After every frame the file on disk is a complete, indexed AVI.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://kelvra.example/timelapse")
set(CPACK_PACKAGE_INSTALL_DIRECTORY kelvra)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The dialog units are measured on DejaVu Sans Condensed (see platform/user dialog_templates.cpp).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, fonts-dejavu-extra")
# Free software under the GNU GPL, version 3 or later: the package carries Debian's
# machine-readable copyright file where Debian keeps it.
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
configure_file(${CMAKE_SOURCE_DIR}/resources/linux/copyright.in ${CMAKE_BINARY_DIR}/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION share/doc/kelvra)
include(CPack)
