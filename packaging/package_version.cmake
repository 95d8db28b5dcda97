# Read by cpack for each package: the package's version is the one the program
# reports (--version), from the header the build wrote (cmake/host_version.cmake):
# the module's product version and the git description of the sources.
#   description v1.1.0 (the release's tag)        -> 1.1.0
#   v1.0.0-12-g20f4ef3, or 20f4ef3 without tags   -> 1.1.0+g20f4ef3
#   either with -dirty (uncommitted changes)      -> 1.1.0+g20f4ef3.dirty
file(STRINGS ${CPACK_MORVALIND_VERSION_HEADER} defines REGEX "^#define MORVALIND_")
string(REGEX MATCH "PRODUCT_VERSION \"([^\"]*)\"" matched "${defines}")
set(product ${CMAKE_MATCH_1})
string(REGEX MATCH "SOURCE_VERSION \"([^\"]*)\"" matched "${defines}")
set(described ${CMAKE_MATCH_1})
if(product STREQUAL "")
  message(FATAL_ERROR "no product version in ${CPACK_MORVALIND_VERSION_HEADER}: build first")
endif()

set(suffix "")
string(REGEX REPLACE "-dirty$" "" clean "${described}")
if(clean MATCHES "^v?${product}$" OR clean STREQUAL "unknown")
  set(suffix "")
elseif(clean MATCHES "-g([0-9a-f]+)$")
  set(suffix "+g${CMAKE_MATCH_1}")
elseif(clean MATCHES "^([0-9a-f]+)$")
  set(suffix "+g${CMAKE_MATCH_1}")
endif()
if(NOT clean STREQUAL described)
  if(suffix STREQUAL "")
    set(suffix "+dirty")
  else()
    string(APPEND suffix ".dirty")
  endif()
endif()
set(CPACK_PACKAGE_VERSION ${product}${suffix})
set(CPACK_DEBIAN_PACKAGE_VERSION ${CPACK_PACKAGE_VERSION})
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_PACKAGE_FILE_NAME morvalind-${CPACK_PACKAGE_VERSION}-win32)
endif()
