# Installation beside a real PIN pad, laid out as Debian lays out a service:
# the programs in <prefix>/bin (the agent as pinpad-agent), the settings in
# /etc/pinpad-agent, the traffic logs in /var/log/pinpad-agent, the units,
# the service user and the log directories under <prefix>/lib. The prefix is
# /usr unless given (make install PREFIX=..., cmake --install --prefix ...);
# settings and logs stay where an administrator looks for them whatever it is.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/usr" CACHE PATH "Installation prefix" FORCE)
endif()
set(PINPAD_SETTINGS_DIR "/etc/pinpad-agent" CACHE PATH "Settings of the installed agent")
set(PINPAD_LOG_DIR "/var/log/pinpad-agent" CACHE PATH "Traffic logs of the installed agent")
set(PINPAD_METRICS_DIR "/var/lib/prometheus/node-exporter" CACHE PATH
    "The node exporter's textfile directory, where the installed agents write their metrics")
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

# Files whose paths are known now. The units name the agent's own path,
# which depends on the prefix chosen at install time; they are written then.
set(LOG_DIR ${PINPAD_LOG_DIR})
set(METRICS_DIR ${PINPAD_METRICS_DIR})
set(SERVICE_USER ${PINPAD_SERVICE_USER})
configure_file(${packaging}/pinpad-agent.sysusers.in ${staged}/sysusers.conf @ONLY)
configure_file(${packaging}/pinpad-agent.tmpfiles.in ${staged}/tmpfiles.conf @ONLY)
configure_file(${packaging}/pinpad-agent.logrotate.in ${staged}/logrotate @ONLY)
install(FILES ${staged}/sysusers.conf DESTINATION lib/sysusers.d RENAME pinpad-agent.conf)
install(FILES ${staged}/tmpfiles.conf DESTINATION lib/tmpfiles.d RENAME pinpad-agent.conf)
install(FILES ${staged}/logrotate DESTINATION /etc/logrotate.d RENAME pinpad-agent)
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

# At install time: the units, for the prefix chosen then, and the settings,
# only where none are in place, so that a new install keeps what the
# administrator changed (the package leaves that to dpkg's conffiles). An
# install into the running system (no DESTDIR) also creates the service user
# and the log directories, as the package does.
file(READ ${packaging}/service-settings.in service_settings)
string(STRIP "${service_settings}" service_settings)
file(WRITE ${staged}/service-settings "${service_settings}")
install(CODE "
  set(BIN_DIR \"\${CMAKE_INSTALL_PREFIX}/bin\")
  set(SETTINGS_DIR \"${PINPAD_SETTINGS_DIR}\")
  set(LOG_DIR \"${PINPAD_LOG_DIR}\")
  set(METRICS_DIR \"${PINPAD_METRICS_DIR}\")
  file(READ \"${staged}/service-settings\" SERVICE_SETTINGS)
  foreach(unit pinpad-agent.service pinpad-agent@.service)
    set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/\${unit}\")
    message(STATUS \"Installing: \${target}\")
    configure_file(\"${packaging}/\${unit}.in\" \"\${target}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${target}\")
  endforeach()
  foreach(settings pinpad.ini agent.ini)
    set(target \"\$ENV{DESTDIR}${PINPAD_SETTINGS_DIR}/\${settings}\")
    if(NOT EXISTS \"\${target}\")
      message(STATUS \"Installing: \${target}\")
      configure_file(\"${packaging}/\${settings}\" \"\${target}\" COPYONLY)
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${target}\")
    else()
      message(STATUS \"Keeping: \${target}\")
    endif()
  endforeach()
")
install(CODE "
  if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    find_program(sysusers systemd-sysusers)
    find_program(tmpfiles systemd-tmpfiles)
    if(sysusers AND tmpfiles)
      execute_process(COMMAND \"\${sysusers}\" \"\${CMAKE_INSTALL_PREFIX}/lib/sysusers.d/pinpad-agent.conf\")
      execute_process(COMMAND \"\${tmpfiles}\" --create \"\${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d/pinpad-agent.conf\")
    else()
      message(WARNING \"Create the user ${PINPAD_SERVICE_USER} and ${PINPAD_LOG_DIR}/Trace by hand\")
    endif()
  endif()
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
     "${PINPAD_SETTINGS_DIR}/pinpad.ini\n"
     "${PINPAD_SETTINGS_DIR}/agent.ini\n"
     "/etc/logrotate.d/pinpad-agent\n")
set(control_extra ${staged}/debian/conffiles)
foreach(script postinst prerm postrm)
  configure_file(${packaging}/debian/${script} ${staged}/debian/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND control_extra ${staged}/debian/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${control_extra})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
