# What an installed Morvalind holds, and its packages: the Windows zip (CPack
# ZIP, from the win32 build) and the Debian package (CPack DEB, from the native
# build). Everything that runs lies in one folder, as in the build tree: the
# program, the module, the stand-in card as the virtual card in virtual-card/,
# the SAT>IP card library with its settings in satipcard/ and, natively, the
# platform library and the Linux card library in linuxdvb/.
# The program finds that folder from its own path, so the installed tree is
# relocatable and refers to nothing in the build tree.
#   cmake --install build/native --prefix DIR    DIR/lib/morvalind/..., DIR/bin/morvalind-host
#   cmake --install build/win32 --prefix DIR     DIR/Morvalind.dev, DIR/morvalind-host.exe, ...
#   cpack --config build/<preset>/CPackConfig.cmake (scripts/package.sh does both)
set(packaging ${CMAKE_SOURCE_DIR}/packaging)
if(WIN32)
  set(folder .)
  set(doc_folder .)
else()
  set(folder lib/morvalind)
  set(doc_folder share/doc/morvalind)
endif()

# The program and the module find the platform library beside them; the card
# libraries need nothing of ours.
if(NOT WIN32)
  set_target_properties(morvalind-host morvalind PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()
set(no_import_libraries ARCHIVE DESTINATION lib COMPONENT development EXCLUDE_FROM_ALL)
install(TARGETS morvalind-host morvalind RUNTIME DESTINATION ${folder} LIBRARY DESTINATION ${folder}
        ${no_import_libraries})
install(TARGETS ttlcdacc RUNTIME DESTINATION ${folder}/virtual-card
        LIBRARY DESTINATION ${folder}/virtual-card ${no_import_libraries})
# The virtual card's transponders as a channel file, for morvalind-host scan.
install(FILES ${CMAKE_BINARY_DIR}/bin/ttlcdacc-transponders.conf DESTINATION ${folder}/virtual-card)
if(FFMPEG)
  # The lineup file that plays the recordings, beside the virtual card.
  install(FILES ${CMAKE_BINARY_DIR}/bin/ttlcdacc-lineup.json DESTINATION ${folder}/virtual-card)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/ttlcdacc-streams DESTINATION ${folder}/virtual-card)
endif()

# The SAT>IP card library, in a folder of its own with its settings file.
install(TARGETS satipcard RUNTIME DESTINATION ${folder}/satipcard
        LIBRARY DESTINATION ${folder}/satipcard ${no_import_libraries})

if(WIN32)
  # The texts with Windows line ends, which every Notepad shows as lines.
  foreach(text windows/README.txt windows/THIRD-PARTY.txt windows/virtual-card.txt
               windows/satip-card.txt ../LICENSE.txt ../satipcard/ttlcdacc-satip.ini)
    get_filename_component(name ${text} NAME)
    configure_file(${packaging}/${text} ${CMAKE_BINARY_DIR}/packaging/${name} @ONLY NEWLINE_STYLE WIN32)
  endforeach()
  install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt ${CMAKE_BINARY_DIR}/packaging/LICENSE.txt
                ${CMAKE_BINARY_DIR}/packaging/THIRD-PARTY.txt DESTINATION .)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/virtual-card.txt DESTINATION virtual-card RENAME README.txt)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/satip-card.txt DESTINATION satipcard RENAME README.txt)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/ttlcdacc-satip.ini DESTINATION satipcard)
  # Last: the sums of every file above, as sha256sum -c reads them.
  install(SCRIPT ${packaging}/sha256sums.cmake)
else()
  install(TARGETS mvplatform LIBRARY DESTINATION ${folder})
  install(TARGETS linuxdvb_card LIBRARY DESTINATION ${folder}/linuxdvb)
  install(FILES ${CMAKE_SOURCE_DIR}/satipcard/ttlcdacc-satip.ini DESTINATION ${folder}/satipcard)
  # /usr/bin/morvalind-host: a link into the folder, which the program resolves.
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
  file(CREATE_LINK ../${folder}/morvalind-host ${CMAKE_BINARY_DIR}/packaging/morvalind-host SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/morvalind-host DESTINATION bin)
  install(FILES ${packaging}/debian/copyright DESTINATION ${doc_folder})
  install(FILES ${packaging}/debian/lintian-overrides DESTINATION share/lintian/overrides RENAME morvalind)

  # The manual page, from the program's own --help and --version.
  find_program(HELP2MAN help2man)
  if(HELP2MAN)
    set(man ${CMAKE_BINARY_DIR}/packaging/morvalind-host.1)
    add_custom_command(OUTPUT ${man}.gz
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN} -DPROGRAM=$<TARGET_FILE:morvalind-host>
              -DINCLUDE=${packaging}/debian/morvalind-host.h2m -DOUTPUT=${man} -P ${packaging}/man_page.cmake
      DEPENDS morvalind-host ${packaging}/man_page.cmake ${packaging}/debian/morvalind-host.h2m
      COMMENT "Writing the manual page of morvalind-host")
    add_custom_target(man_page ALL DEPENDS ${man}.gz)
    install(FILES ${man}.gz DESTINATION share/man/man1)
  else()
    message(WARNING "help2man is missing: no manual page for morvalind-host")
  endif()
  # The package's changelog, with the version the program reports.
  install(CODE "set(MORVALIND_VERSION_HEADER ${CMAKE_BINARY_DIR}/host/generated/host_version.h)")
  install(SCRIPT ${packaging}/debian/changelog.cmake)
endif()

# The packages. Their version is the program's (packaging/package_version.cmake
# reads it from the header the build writes, when cpack runs).
file(STRINGS ${CMAKE_SOURCE_DIR}/plugin/version.rc product_line REGEX "VALUE \"ProductVersion\"")
string(REGEX MATCH "\"ProductVersion\", \"([^\"]*)\"" matched "${product_line}")
set(CPACK_PACKAGE_VERSION ${CMAKE_MATCH_1})
set(CPACK_MORVALIND_VERSION_HEADER ${CMAKE_BINARY_DIR}/host/generated/host_version.h)
set(CPACK_PROJECT_CONFIG_FILE ${packaging}/package_version.cmake)
set(CPACK_PACKAGE_NAME morvalind)
set(CPACK_PACKAGE_VENDOR "Morvalind developers")
set(CPACK_PACKAGE_CONTACT "Morvalind developers <morvalind@lists.morvalind.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DVB-S card module for a satellite-TV host application, and its host program")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${packaging}/description.txt)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE.txt)
set(CPACK_PACKAGE_CHECKSUM SHA256)
# Without symbols and debugging sections (the sections that are loaded keep
# their addresses).
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://morvalind.org/")
  # The libraries' packages, from what the binaries link (dpkg-shlibdeps); the
  # platform library is our own, in the package's folder.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
endif()
include(CPack)
