# Install layout (GNUInstallDirs): programs in bin/, the shared libraries in a private folder
# lib/<multiarch>/vantrel/ found through a relative RUNPATH, the guide in share/doc/vantrel/.
include(GNUInstallDirs)
set(VANTREL_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR}/vantrel)
set(VANTREL_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantrel)
# Both relative to the program's folder, so an unpacked or relocated tree works as well.
file(RELATIVE_PATH VANTREL_LIB_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${VANTREL_INSTALL_LIBDIR})
file(RELATIVE_PATH VANTREL_DOC_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${VANTREL_INSTALL_DOCDIR})

# The version shown in the caption and by --version is also the package's version.
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/console/ui/include/consoleui/vantrel_dlg.h
     VANTREL_VERSION_LINE REGEX "kVersionText = \"[0-9.]+\"")
string(REGEX MATCH "[0-9][0-9.]*[0-9]" VANTREL_VERSION "${VANTREL_VERSION_LINE}")
if(NOT VANTREL_VERSION)
  message(FATAL_ERROR "no kVersionText in consoleui/vantrel_dlg.h")
endif()
