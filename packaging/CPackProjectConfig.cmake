# Read by cpack before it makes a package (CPACK_PROJECT_CONFIG_FILE). The paths compiled into the
# program and the absolute install destinations follow the prefix the build tree was configured
# with; a package installs below CPACK_PACKAGING_INSTALL_PREFIX. Both must agree, or the packaged
# program would look for its port helper where the package does not put it.
if(NOT CPACK_TARVELO_CONFIGURED_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(FATAL_ERROR
    "The build tree is configured for the prefix ${CPACK_TARVELO_CONFIGURED_PREFIX}, the package "
    "installs below ${CPACK_PACKAGING_INSTALL_PREFIX}. Configure the tree with "
    "-DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX}, build it, then make the package.")
endif()
