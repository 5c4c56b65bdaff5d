# The installed tree and the Debian package made from it.
#
#   <prefix>/lib/quarnel/bin/   quarnel, quarnel-cli, korvo-sim
#   <prefix>/lib/quarnel/lib/   libvestra.so, found through RUNPATH $ORIGIN/../lib
#   <prefix>/lib/quarnel/TRG/   sample target descriptions: the library's own
#                               ../TRG search from the programs' real directory
#   <prefix>/bin/               relative links to the programs
#   <prefix>/share/applications, <prefix>/share/icons/hicolor: menu entry and icon
#
# Included last, so that every program target exists when it is looked for.
set(QUARNEL_INSTALL_DIR lib/quarnel)
set(QUARNEL_PROGRAM_DIR ${QUARNEL_INSTALL_DIR}/bin)

# Building stays separate from installing: `cmake --install` and cpack take
# what the last build left, and the package test does not rebuild the tree.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(quarnel_installed_programs quarnel korvo-sim)
if(TARGET quarnel-cli)
  list(APPEND quarnel_installed_programs quarnel-cli)
endif()

install(TARGETS ${quarnel_installed_programs} RUNTIME DESTINATION ${QUARNEL_PROGRAM_DIR})
install(TARGETS vestra LIBRARY DESTINATION ${QUARNEL_INSTALL_DIR}/lib NAMELINK_SKIP)

set(quarnel_link_dir ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${quarnel_link_dir})
foreach(program IN LISTS quarnel_installed_programs)
  file(CREATE_LINK ../${QUARNEL_PROGRAM_DIR}/${program} ${quarnel_link_dir}/${program} SYMBOLIC)
  install(FILES ${quarnel_link_dir}/${program} DESTINATION bin)
endforeach()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/TRG/ DESTINATION ${QUARNEL_INSTALL_DIR}/TRG
        FILES_MATCHING PATTERN "*.TRG")

install(FILES ${PROJECT_SOURCE_DIR}/packaging/quarnel.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/quarnel/ui/icons/quarnel.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/quarnel/ui/icons/quarnel.png DESTINATION share/icons/hicolor/64x64/apps)

set(CPACK_PACKAGE_NAME quarnel)
set(CPACK_PACKAGE_VENDOR Zentor)
set(CPACK_PACKAGE_CONTACT "Zentor <quarnel@zentor.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Flash writer for microcontrollers through KORVO emulators")
set(CPACK_PACKAGE_DESCRIPTION
  "QUARNEL writes, verifies and erases the on-chip flash of microcontrollers through USB KORVO emulators, several boards at once. Also contains quarnel-cli for scripts, the korvo-sim emulator simulator and sample target descriptions.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# dpkg-shlibdeps names the shared libraries the programs and libvestra.so
# link against (Qt 6 Widgets and Network, libusb-1.0, the C++ runtime).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# Qt finds no display without its platform plugins, and no SQLite record
# store without its SQL driver plugin; no library links either.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_GENERATOR DEB)
include(CPack)
