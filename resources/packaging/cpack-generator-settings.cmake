# Read by cpack once per generator: the TGZ holds only the tree, at the top of
# the archive, so the programs and their html/ and sound/ folders stay
# side by side wherever it is unpacked.
if(CPACK_GENERATOR STREQUAL "TGZ")
    set(CPACK_INSTALL_CMAKE_PROJECTS ${CPACK_TGZ_INSTALL_PROJECTS})
    set(CPACK_PACKAGING_INSTALL_PREFIX /)
endif()
