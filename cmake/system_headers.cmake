# Header-only libraries from Debian, used as system headers so that their own
# warnings stay quiet. The cross build gets a folder that holds only links to
# the named folders and files of /usr/include: never the machine's whole
# /usr/include, whose headers are Linux's.
function(morvalind_system_headers target)
  add_library(${target} INTERFACE)
  if(WIN32)
    set(root ${CMAKE_BINARY_DIR}/system-include/${target})
    file(MAKE_DIRECTORY ${root})
    foreach(item ${ARGN})
      file(CREATE_LINK /usr/include/${item} ${root}/${item} SYMBOLIC)
    endforeach()
    target_include_directories(${target} SYSTEM INTERFACE ${root})
  endif()
endfunction()

# biTStream (TS and PSI), nlohmann-json, CLI11, and standalone Asio (sockets,
# timers, event loops; Winsock under Windows, from Windows 7 on).
morvalind_system_headers(bitstream_headers bitstream)
morvalind_system_headers(json_headers nlohmann)
morvalind_system_headers(cli_headers CLI)
morvalind_system_headers(asio_headers asio asio.hpp)
if(WIN32)
  target_compile_definitions(asio_headers INTERFACE _WIN32_WINNT=0x0601)
  target_link_libraries(asio_headers INTERFACE ws2_32 mswsock)
else()
  target_link_libraries(asio_headers INTERFACE pthread)
  if(MORVALIND_SANITIZE MATCHES thread)
    # ThreadSanitizer cannot follow memory fences, which Asio puts around the
    # handlers it runs. Here an event loop runs its handlers on one thread, and
    # what another thread posts goes through the loop's own lock.
    target_compile_definitions(asio_headers INTERFACE ASIO_DISABLE_FENCED_BLOCK)
  endif()
endif()
if(MORVALIND_SANITIZE MATCHES "thread")
  # ThreadSanitizer knows no fences, and GCC refuses Asio's: its fenced blocks
  # become plain ones there (each of the program's sockets has one thread).
  target_compile_definitions(asio_headers INTERFACE ASIO_DISABLE_FENCED_BLOCK)
endif()
