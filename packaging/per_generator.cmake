# Read by cpack for each kind of package: the documents of the kind's own
# distribution go in beside everything else (the Unspecified component).
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_OCTET_BINARY_DIR};octetcensusmeter;Unspecified;/"
                                   "${CPACK_OCTET_BINARY_DIR};octetcensusmeter;deb_docs;/")
elseif(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_OCTET_BINARY_DIR};octetcensusmeter;Unspecified;/"
                                   "${CPACK_OCTET_BINARY_DIR};octetcensusmeter;rpm_docs;/")
endif()
