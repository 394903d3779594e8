# The Debian package, made by CPack's DEB generator from the same install rules as
# cmake --install: `cpack -G DEB` in a configured and built folder (tools/build-deb.sh) gives
# ormelix_<version>_amd64.deb with everything under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ormelix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Ormelix Console developers <ormelix@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console for the Ormelix two-channel USB instrument")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Shows the two signals of the Ormelix USB HID measuring instrument with a\n\
volt grid, markers and cursor, prints their voltages, sends the instrument\n\
its commands and saves pictures of a series of sweeps. With ormelix-cli\n\
(records the traces to CSV and sends commands from scripts), ormelix-replay\n\
(looks back at recordings and snapshot series as the console showed them),\n\
ormelix-demo (the console on a virtual instrument), ormelix-hidlist (what\n\
the console can see), ormelix-sim (a virtual instrument plugged in over\n\
USB/IP), the udev rule that gives the logged-in user access to the\n\
instrument, and desktop entries.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libudev is loaded at run time, out of dpkg-shlibdeps' sight.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libudev1")
# The window's font, Tahoma with Cyrillic.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-wine)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/dist/debian/postinst ${CMAKE_CURRENT_SOURCE_DIR}/dist/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
