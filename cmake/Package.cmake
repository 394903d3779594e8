# The Debian packages, made by CPack's DEB generator from the same install rules as
# cmake --install: `cpack -G DEB` in a configured and built folder (tools/build-deb.sh) gives
# ormelix_<version>_amd64.deb with everything under /usr, and, where the Python module is built
# (install component "python"), python3-ormelix_<version>_amd64.deb with the module alone.
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
if(TARGET ormelix_module)
  # One package per install component: the console's rules carry none ("Unspecified").
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Unspecified python)
  set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME ormelix)
  # CPack puts the one summary over every package's description: each carries its own instead.
  set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION
    "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
  unset(CPACK_DEBIAN_PACKAGE_DESCRIPTION)
  set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_CONTROL_EXTRA "${CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA}")
  unset(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-ormelix)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
    "Python 3 module for the Ormelix two-channel USB instrument\n\
import ormelix: the instrument's records as numpy arrays (fetch, record at the\n\
console's pace across unplug and replug), its eight commands as the console\n\
sends them, ormelix-cli's recordings read back with read_csv, and a virtual\n\
instrument (demo=True) to try it all without hardware. The udev rule that\n\
gives the logged-in user access to the instrument is in the ormelix package.")
  # The module is built for this Python's ABI, numpy's API is reached at run time, and libudev
  # is loaded at run time.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${ORMELIX_PYTHON_VERSION}), python3 (<< 3.${ORMELIX_PYTHON_NEXT_MINOR}), python3-numpy, python3-numpy-abi9, libudev1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS ormelix)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-matplotlib, python3-pandas")
endif()
set(CPACK_STRIP_FILES TRUE)
include(CPack)
