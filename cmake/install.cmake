# Install rules and the Debian packages, one per component:
#   kvtd             the daemon, its unit and man page, kvtd-preview
#   kvtcard          the card inspector (no simulator code)
#   kvtsim           the simulated SP's tools, kvtsim and kvtsim-em
#   kvtsim-services  the simulated SP's services as a static library, the
#                    stand-in for a vendor's libraries (KVT_SP_SERVICES)
# Included from the top-level CMakeLists.txt after tools/, so that the card
# inspector's target is known when it exists.
include(GNUInstallDirs)

install(TARGETS kvtd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT kvtd)
# kvtcard preview's planner: the daemon's code against the SP's services,
# so it goes with the daemon, beside kvtcard.
if(TARGET kvtd-preview)
  install(TARGETS kvtd-preview RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kvtd)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/kvtd.8
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT kvtd)
# kvtd(8) sends the operator here for every symptom.
install(FILES ${CMAKE_SOURCE_DIR}/docs/operator-guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT kvtd)
# The unit names /usr/sbin/kvtd: it is meant for the package, whose
# prefix is /usr.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kvtd.service
        DESTINATION lib/systemd/system COMPONENT kvtd)
set(kvt_components kvtd)

if(TARGET kvtcard)
  install(TARGETS kvtcard RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kvtcard)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/man/kvtcard.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT kvtcard)
  list(APPEND kvt_components kvtcard)
endif()

if(KVT_SIMULATOR)
  install(TARGETS kvtsim kvtsim-em RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kvtsim)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/man/kvtsim.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT kvtsim)
  install(TARGETS kvtsim_platform ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}/kvtd
          COMPONENT kvtsim-services)
  list(APPEND kvt_components kvtsim kvtsim-services)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${kvt_components})
set(CPACK_PACKAGE_NAME kvtd)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "kvtd maintainers <kvtd@localhost>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kvtd maintainers <kvtd@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_KVTD_PACKAGE_NAME kvtd)
set(CPACK_COMPONENT_KVTD_DESCRIPTION
    "keeps the service processor's configuration on the KVT card\n\
kvtd keeps a copy of the service processor's configuration on the removable\
 KVT card and keeps card and SP in step: start-up reconciliation, change\
 tracking and card monitoring.")
if(KVT_SP_SERVICES STREQUAL "kvtsim_platform")
  # Built on the simulated SP: it needs the simulator's event manager.
  set(CPACK_DEBIAN_KVTD_PACKAGE_RECOMMENDS kvtsim)
endif()

set(CPACK_DEBIAN_KVTCARD_PACKAGE_NAME kvtcard)
set(CPACK_DEBIAN_KVTCARD_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_KVTCARD_DESCRIPTION
    "shows, checks, compares and writes KVT cards\n\
kvtcard decodes a KVT card image, an EEPROM dump or the card in a slot (at24\
 driver or i2c-dev), gives the card library's verdict, and saves and writes\
 cards on the bench.")

set(CPACK_DEBIAN_KVTSIM_PACKAGE_NAME kvtsim)
set(CPACK_DEBIAN_KVTSIM_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_KVTSIM_DESCRIPTION
    "simulated service processor for kvtd\n\
kvtsim and kvtsim-em run a simulated SP under one directory (KVT_SP_ROOT):\
 configuration objects, users, the card slot, the event manager with its\
 process-control manager, the fault log.")

set(CPACK_DEBIAN_KVTSIM-SERVICES_PACKAGE_NAME kvtsim-services)
set(CPACK_DEBIAN_KVTSIM-SERVICES_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_KVTSIM-SERVICES_DESCRIPTION
    "simulated SP services as a library, for building kvtd against them\n\
The simulated SP's implementation of kvtd's platform boundary as a static\
 library: the stand-in for a vendor's libraries (CMake KVT_SP_SERVICES).")
include(CPack)

if(KVT_TESTS)
  set(kvt_extra_files "")
  if(TARGET kvtcard)
    list(APPEND kvt_extra_files bin/kvtcard share/man/man1/kvtcard.1 bin/kvtd-preview)
  endif()
  if(KVT_SIMULATOR)
    list(APPEND kvt_extra_files bin/kvtsim bin/kvtsim-em share/man/man1/kvtsim.1
         ${CMAKE_INSTALL_LIBDIR}/kvtd/libkvtsim_platform.a)
  endif()
  add_test(NAME install_layout
           COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/install-check.sh ${CMAKE_COMMAND}
                   ${CMAKE_BINARY_DIR} ${kvt_extra_files})
  set_tests_properties(install_layout PROPERTIES LABELS package TIMEOUT 120)
endif()
