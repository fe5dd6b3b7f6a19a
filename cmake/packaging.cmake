# What `cmake --install` puts under the prefix: the application headers, libbayercam, the tool,
# the udev rule, bayercam.pc and the CMake package (find_package(bayercam) -> bayercam::bayercam).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BAYERCAM_USB_IDS "1209:0001" CACHE STRING "VID:PID the installed udev rule grants access to")

set_target_properties(libbayercam PROPERTIES EXPORT_NAME bayercam)
install(TARGETS libbayercam EXPORT bayercamTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/bayercam/bayercam.h
              ${CMAKE_SOURCE_DIR}/include/bayercam/bayercam.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/bayercam)
install(TARGETS bayercam RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The rule with the ids filled in, without the template's instructions.
file(READ ${CMAKE_SOURCE_DIR}/udev/60-bayercam.rules.in udev_rule)
string(REGEX REPLACE "^(#[^\n]*\n)+" "" udev_rule "${udev_rule}")
string(REPLACE ":" ";" usb_ids "${BAYERCAM_USB_IDS}")
list(GET usb_ids 0 usb_vid)
list(GET usb_ids 1 usb_pid)
string(REPLACE "@VID@" "${usb_vid}" udev_rule "${udev_rule}")
string(REPLACE "@PID@" "${usb_pid}" udev_rule "${udev_rule}")
file(WRITE ${CMAKE_BINARY_DIR}/60-bayercam.rules
     "# Lets the logged-in user and members of plugdev open the camera ${BAYERCAM_USB_IDS}.\n${udev_rule}")
install(FILES ${CMAKE_BINARY_DIR}/60-bayercam.rules DESTINATION lib/udev/rules.d)

# The prefix from the file's own place, so that `cmake --install --prefix` may choose another.
file(RELATIVE_PATH pc_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
configure_file(${CMAKE_SOURCE_DIR}/cmake/bayercam.pc.in ${CMAKE_BINARY_DIR}/bayercam.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/bayercam.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/bayercam)
install(EXPORT bayercamTargets NAMESPACE bayercam:: DESTINATION ${package_dir})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/bayercamConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/bayercamConfig.cmake
                              INSTALL_DESTINATION ${package_dir})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/bayercamConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/bayercamConfig.cmake
              ${CMAKE_BINARY_DIR}/bayercamConfigVersion.cmake
        DESTINATION ${package_dir})
