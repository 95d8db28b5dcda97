# Installed last in the Windows zip: SHA256SUMS, the SHA-256 sum of every file
# in it, as `sha256sum -c SHA256SUMS` reads them (paths from the zip's folder).
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB_RECURSE files RELATIVE ${root} ${root}/*)
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(file ${files})
  file(SHA256 ${root}/${file} sum)
  string(APPEND sums "${sum}  ${file}\n")
endforeach()
file(WRITE ${root}/SHA256SUMS "${sums}")
