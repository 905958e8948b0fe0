# Installation beside a real PIN pad, laid out as Debian lays out a service:
# the programs in <prefix>/bin (the agent as pinpad-agent), the units, the
# service user's and the log directories' definitions under <prefix>/lib, the
# settings in <etc>/pinpad-agent and the log rotation in <etc>/logrotate.d,
# the traffic logs in <var>/log/pinpad-agent. The prefix is /usr unless given
# (make install PREFIX=..., cmake --install --prefix ...); <etc> and <var> are
# /etc and /var for /usr, <prefix>/etc and <prefix>/var for any other prefix,
# so that an install writes nothing outside its prefix (or DESTDIR). The
# prefix is known only when the install runs, so every file that names a path
# is written then. Nothing of the running system (users, directories,
# systemd) is touched here: the package's maintainer scripts and
# make install-system do that.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/usr" CACHE PATH "Installation prefix" FORCE)
endif()
set(PINPAD_SERVICE_USER "pinpad-agent")
set(PINPAD_DOC_DIR "share/doc/pinpad-agent")
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(staged ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS pinpad-sim commlog-decode DESTINATION bin)
if(TARGET agent)
  # Installed under another name than it is built, so --strip (which only
  # knows targets) is applied here.
  install(PROGRAMS $<TARGET_FILE:agent> DESTINATION bin RENAME pinpad-agent)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/pinpad-agent\")
    endif()
  ")
endif()

install(FILES ${packaging}/pinpad.ini ${packaging}/agent.ini ${packaging}/pinpad-agent.rules.yml
        DESTINATION ${PINPAD_DOC_DIR}/examples)
# The tunnel's dissector for Wireshark, for users to enable (README).
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/pinpad.lua DESTINATION share/pinpad-agent/wireshark)

# Debian's documentation files: the copyright as it is, the changelog and
# the manual pages (every *.1 under docs/man or packaging/man) compressed
# without a time stamp, so that the package is reproducible. They are
# compressed when CMake runs, which it does again when one of them changes.
# gzip_document(SOURCE OUTPUT)
function(gzip_document source output)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  get_filename_component(directory ${output} DIRECTORY)
  file(MAKE_DIRECTORY ${directory})
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${output} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot compress ${source}")
  endif()
endfunction()
gzip_document(${packaging}/changelog ${staged}/changelog.gz)
install(FILES ${packaging}/copyright ${staged}/changelog.gz DESTINATION ${PINPAD_DOC_DIR})
file(GLOB man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1 ${packaging}/man/*.1)
foreach(page ${man_pages})
  get_filename_component(name ${page} NAME)
  gzip_document(${page} ${staged}/man/${name}.gz)
  install(FILES ${staged}/man/${name}.gz DESTINATION share/man/man1)
endforeach()

# At install time, for the prefix chosen then: the units, the service user,
# the log directories and the log rotation; the settings only where none are
# in place, so that a new install keeps what the administrator changed (the
# package leaves that to dpkg's conffiles).
file(READ ${packaging}/service-settings.in service_settings)
string(STRIP "${service_settings}" service_settings)
file(WRITE ${staged}/service-settings "${service_settings}")
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  if(prefix STREQUAL \"/usr\")
    set(etc /etc)
    set(var /var)
  else()
    set(etc \"\${prefix}/etc\")
    set(var \"\${prefix}/var\")
  endif()
  set(BIN_DIR \"\${prefix}/bin\")
  set(SETTINGS_DIR \"\${etc}/pinpad-agent\")
  set(LOG_DIR \"\${var}/log/pinpad-agent\")
  set(METRICS_DIR \"\${var}/lib/prometheus/node-exporter\")
  set(SERVICE_USER ${PINPAD_SERVICE_USER})
  file(READ \"${staged}/service-settings\" SERVICE_SETTINGS)
  set(root \"\$ENV{DESTDIR}\")
  foreach(file
      \"pinpad-agent.service.in|\${prefix}/lib/systemd/system/pinpad-agent.service\"
      \"pinpad-agent@.service.in|\${prefix}/lib/systemd/system/pinpad-agent@.service\"
      \"pinpad-agent.sysusers.in|\${prefix}/lib/sysusers.d/pinpad-agent.conf\"
      \"pinpad-agent.tmpfiles.in|\${prefix}/lib/tmpfiles.d/pinpad-agent.conf\"
      \"pinpad-agent.logrotate.in|\${etc}/logrotate.d/pinpad-agent\")
    string(REPLACE \"|\" \";\" file \"\${file}\")
    list(GET file 0 template)
    list(GET file 1 target)
    message(STATUS \"Installing: \${root}\${target}\")
    configure_file(\"${packaging}/\${template}\" \"\${root}\${target}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${root}\${target}\")
  endforeach()
  foreach(settings pinpad.ini agent.ini)
    set(target \"\${root}\${SETTINGS_DIR}/\${settings}\")
    if(NOT EXISTS \"\${target}\")
      message(STATUS \"Installing: \${target}\")
      configure_file(\"${packaging}/\${settings}\" \"\${target}\" COPYONLY)
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${target}\")
    else()
      message(STATUS \"Keeping: \${target}\")
    endif()
  endforeach()
")

# make package: a Debian package of the same layout, with the debug symbols
# apart in pinpad-agent-dbgsym. The settings and the log rotation are
# configuration files, so an upgrade keeps what the administrator changed.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "pinpad-agent")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "PIN pad agent maintainers <maintainers@users.noreply.c-seed-0c2241cc.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network agent for a PIN pad on a serial port")
file(READ ${packaging}/description.txt CPACK_PACKAGE_DESCRIPTION)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "systemd | systemd-standalone-sysusers")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "logrotate")
# Publishes the agents' metrics to Prometheus.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "prometheus-node-exporter")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${packaging}/FinishDebugPackage.cmake)
file(WRITE ${staged}/debian/conffiles
     "/etc/pinpad-agent/pinpad.ini\n"
     "/etc/pinpad-agent/agent.ini\n"
     "/etc/logrotate.d/pinpad-agent\n")
set(control_extra ${staged}/debian/conffiles)
set(LOG_DIR /var/log/pinpad-agent)
foreach(script postinst prerm postrm)
  configure_file(${packaging}/debian/${script} ${staged}/debian/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND control_extra ${staged}/debian/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${control_extra})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
