# Installation beside a real PIN pad. The agent reads its settings from its own
# directory and writes its traffic logs into "Trace" there, so the agent, its
# settings and its logs share one directory.
set(AGENT_INSTALL_DIR "lib/pinpad-agent" CACHE STRING
    "Directory of the agent, its settings and its logs, relative to the prefix")
set(SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Directory of the systemd unit, relative to the prefix")

if(TARGET agent)
  install(TARGETS agent DESTINATION ${AGENT_INSTALL_DIR})
endif()
install(TARGETS pinpad-sim commlog-decode DESTINATION bin)
install(FILES packaging/pinpad.ini RENAME pinpad.ini.example DESTINATION ${AGENT_INSTALL_DIR})
install(FILES packaging/agent.ini RENAME agent.ini.example DESTINATION ${AGENT_INSTALL_DIR})

# The prefix is known only at install time (make install PREFIX=...), so the
# unit is written then; settings already in place are kept.
install(CODE "
  set(agent_dir \"\${CMAKE_INSTALL_PREFIX}/${AGENT_INSTALL_DIR}\")
  set(AGENT_DIR \"\${agent_dir}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/pinpad-agent.service.in\"
                 \"${PROJECT_BINARY_DIR}/pinpad-agent.service\" @ONLY)
  foreach(settings pinpad.ini agent.ini)
    set(target \"\$ENV{DESTDIR}\${agent_dir}/\${settings}\")
    if(NOT EXISTS \"\${target}\")
      message(STATUS \"Installing: \${target}\")
      configure_file(\"${PROJECT_SOURCE_DIR}/packaging/\${settings}\" \"\${target}\" COPYONLY)
    else()
      message(STATUS \"Keeping: \${target}\")
    endif()
  endforeach()
")
install(FILES ${PROJECT_BINARY_DIR}/pinpad-agent.service DESTINATION ${SYSTEMD_UNIT_DIR})

# make package: a Debian package. Its settings are configuration files, so an
# upgrade keeps what the administrator changed.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "pinpad-agent")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "PIN pad agent maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Network agent for a PIN pad on a serial port")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles
     "${CPACK_PACKAGING_INSTALL_PREFIX}/${AGENT_INSTALL_DIR}/pinpad.ini\n"
     "${CPACK_PACKAGING_INSTALL_PREFIX}/${AGENT_INSTALL_DIR}/agent.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles)
include(CPack)
