# Installed with the Debian package's files: its changelog, naming the version
# the package and the program carry and the sources it was built from.
set(CPACK_MORVALIND_VERSION_HEADER ${MORVALIND_VERSION_HEADER})
include(${CMAKE_CURRENT_LIST_DIR}/../package_version.cmake)
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/doc/morvalind")
file(WRITE ${folder}/changelog
     "morvalind (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
     "  * Built from the sources at git ${described}.\n\n"
     " -- Morvalind developers <morvalind@lists.morvalind.org>  ${date}\n")
execute_process(COMMAND gzip -9nf ${folder}/changelog RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip failed")
endif()
