# Writes the host program's version header: the module's product version as its
# version resource gives it, and the git description of the sources. Run at
# every build (host/CMakeLists.txt); the header changes only when they do.
# Usage: cmake -DSOURCE=DIR -DOUTPUT=FILE -P host_version.cmake
file(STRINGS ${SOURCE}/plugin/version.rc line REGEX "VALUE \"ProductVersion\"")
string(REGEX MATCH "\"ProductVersion\", \"([^\"]*)\"" matched "${line}")
set(product ${CMAKE_MATCH_1})
execute_process(COMMAND git describe --always --dirty --tags WORKING_DIRECTORY ${SOURCE}
                OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
                RESULT_VARIABLE failed)
if(failed OR described STREQUAL "")
  set(described "unknown")
endif()
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT
     "#define MORVALIND_PRODUCT_VERSION \"${product}\"\n#define MORVALIND_SOURCE_VERSION \"${described}\"\n")
