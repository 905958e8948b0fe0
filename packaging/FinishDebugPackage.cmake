# Run by CPack once the packages are made. The debug symbols package is
# finished as Debian's own are: its md5sums name its files (CPack lists them
# under its staging directory), the symbol files are not executable, and its
# documentation is the main package's, through a link. It is compressed as
# CPack compresses the main package, with gzip, which is quick.
foreach(package ${CPACK_PACKAGE_FILES})
  if(NOT package MATCHES "-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${tree}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot unpack ${package}")
  endif()
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/usr/*")
  list(SORT files)
  set(sums "")
  foreach(name ${files})
    file(CHMOD "${tree}/${name}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(MD5 "${tree}/${name}" sum)
    string(APPEND sums "${sum}  ${name}\n")
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
  file(MAKE_DIRECTORY "${tree}/usr/share/doc")
  file(CREATE_LINK pinpad-agent "${tree}/usr/share/doc/pinpad-agent-dbgsym" SYMBOLIC)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build "${tree}" "${package}"
                  OUTPUT_QUIET RESULT_VARIABLE failed)
  file(REMOVE_RECURSE "${tree}")
  if(failed)
    message(FATAL_ERROR "cannot pack ${package}")
  endif()
endforeach()
