# Install rules and the Debian package. Included from the top-level
# CMakeLists.txt after tools/, so that the card inspector's target is known
# when it exists.
include(GNUInstallDirs)

install(TARGETS kvtd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS kvtsim kvtsim-em RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET kvtcard)
  install(TARGETS kvtcard RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${CMAKE_SOURCE_DIR}/docs/man/kvtd.8
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/kvtsim.1 ${CMAKE_SOURCE_DIR}/docs/man/kvtcard.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# kvtd(8) sends the operator here for every symptom.
install(FILES ${CMAKE_SOURCE_DIR}/docs/operator-guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The unit names /usr/sbin/kvtd: it is meant for the package, whose
# prefix is /usr.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kvtd.service
        DESTINATION lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvtd)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "kvtd maintainers <kvtd@localhost>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kvtd maintainers <kvtd@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "keeps the service processor's configuration on the KVT card")
set(CPACK_PACKAGE_DESCRIPTION
    "kvtd keeps a copy of the service processor's configuration on the removable\
 KVT card and keeps card and SP in step: start-up reconciliation, change\
 tracking and card monitoring. This build runs on the simulated SP (kvtsim,\
 kvtsim-em), whose root directory is named by KVT_SP_ROOT.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

if(KVT_TESTS)
  set(kvt_extra_tools "")
  if(TARGET kvtcard)
    list(APPEND kvt_extra_tools kvtcard)
  endif()
  add_test(NAME install_layout
           COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/install-check.sh ${CMAKE_COMMAND}
                   ${CMAKE_BINARY_DIR} ${kvt_extra_tools})
  set_tests_properties(install_layout PROPERTIES LABELS package TIMEOUT 120)
endif()
