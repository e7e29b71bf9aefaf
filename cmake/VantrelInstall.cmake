# What `cmake --install` puts in place, and the Debian package CPack builds from it.

# Shared libraries: every SHARED vantrel_library, each finding its siblings beside itself.
get_property(vantrel_shared_libraries GLOBAL PROPERTY VANTREL_SHARED_LIBRARIES)
set_target_properties(${vantrel_shared_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${vantrel_shared_libraries}
        LIBRARY DESTINATION ${VANTREL_INSTALL_LIBDIR} NAMELINK_SKIP)

set(vantrel_programs vantrel-sim)
if(VANTREL_BUILD_GUI)
  list(APPEND vantrel_programs vantrel)
endif()
set_target_properties(${vantrel_programs} PROPERTIES
  INSTALL_RPATH "$ORIGIN/${VANTREL_LIB_FROM_BIN}")
install(TARGETS ${vantrel_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(pack ${PROJECT_SOURCE_DIR}/packaging)
set(gen ${PROJECT_BINARY_DIR}/packaging)
install(FILES ${PROJECT_SOURCE_DIR}/docs/Lumatrel_Note.html ${pack}/copyright
        DESTINATION ${VANTREL_INSTALL_DOCDIR})
install(FILES ${pack}/vantrel.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
if(VANTREL_BUILD_GUI)
  # `vantrel --headless` as a service (not enabled by the package).
  install(FILES ${pack}/vantrel.service DESTINATION lib/systemd/system)
  # The web console's page: the program serves ../share/vantrel/web from its own folder.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/web/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/vantrel/web)
endif()
configure_file(${pack}/vantrel.metainfo.xml ${gen}/vantrel.metainfo.xml @ONLY)
install(FILES ${gen}/vantrel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${pack}/icons/${size}.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
          RENAME vantrel.png)
endforeach()

# Manual pages and the package changelog, compressed as Debian expects (no name or time stamp
# in the gzip header, so the package is reproducible).
find_program(VANTREL_GZIP gzip REQUIRED)
set(vantrel_compressed)
foreach(page vantrel.1 vantrel-sim.1)
  configure_file(${pack}/${page} ${gen}/${page} @ONLY)
  add_custom_command(OUTPUT ${gen}/${page}.gz
    COMMAND ${VANTREL_GZIP} -9nf -k ${gen}/${page}
    DEPENDS ${gen}/${page} VERBATIM)
  list(APPEND vantrel_compressed ${gen}/${page}.gz)
  install(FILES ${gen}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
# A native package (no Debian revision): its changelog is changelog.gz.
configure_file(${pack}/changelog ${gen}/changelog @ONLY)
add_custom_command(OUTPUT ${gen}/changelog.gz
  COMMAND ${VANTREL_GZIP} -9nf -k ${gen}/changelog
  DEPENDS ${gen}/changelog VERBATIM)
list(APPEND vantrel_compressed ${gen}/changelog.gz)
install(FILES ${gen}/changelog.gz DESTINATION ${VANTREL_INSTALL_DOCDIR})
add_custom_target(vantrel_packaging_files ALL DEPENDS ${vantrel_compressed})

# The Debian package: scripts/package.sh.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VERSION ${VANTREL_VERSION})
set(CPACK_PACKAGE_VENDOR "Vantrel developers")
set(CPACK_PACKAGE_CONTACT "Vantrel Dev <dev@vantrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console for networked rack power sequencers")
set(CPACK_PACKAGE_DESCRIPTION
    "Vantrel accepts networked 16-outlet rack power sequencers over TCP, keeps
a live table of every device, switches single outlets and whole groups of
devices (in parallel or one after another), runs timed tasks, configures a
device's network parameters over a serial port and keeps an event log in an
SQLite database.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_INSTALL_PREFIX}/${VANTREL_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk")
# Qt's own Chinese texts for message-box buttons; the console runs without them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)
