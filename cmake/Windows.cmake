# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows build's tests (run under Wine through CMAKE_CROSSCOMPILING_EMULATOR).

include(CTest)
if(BUILD_TESTING)
  # GoogleTest from Debian's source (googletest), built with the cross compiler.
  set(VANTREL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source")
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VANTREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_subdirectory(tests/windows)
endif()

# What the installer and the zip hold: both programs, the Qt libraries and
# plugins the panel needs and the MinGW runtime they need (vantrel.exe is
# linked statically), the manual as text and the licence. Flat, as Windows
# programs are: Qt finds its plugins beside the program.
install(TARGETS vantrel RUNTIME DESTINATION .)
if(VANTREL_PANEL)
  install(TARGETS vantrel-panel RUNTIME DESTINATION .)
  get_filename_component(VANTREL_QT_ROOT "${Qt6_DIR}/../../.." ABSOLUTE)
  install(FILES ${VANTREL_QT_ROOT}/bin/Qt6Core.dll ${VANTREL_QT_ROOT}/bin/Qt6Gui.dll ${VANTREL_QT_ROOT}/bin/Qt6Widgets.dll
                ${VANTREL_QT_ROOT}/bin/libstdc++-6.dll ${VANTREL_QT_ROOT}/bin/libgcc_s_seh-1.dll
                ${VANTREL_QT_ROOT}/bin/libwinpthread-1.dll DESTINATION .)
  install(FILES ${VANTREL_QT_ROOT}/plugins/platforms/qwindows.dll DESTINATION platforms)
  install(FILES ${VANTREL_QT_ROOT}/plugins/styles/qwindowsvistastyle.dll DESTINATION styles)
endif()
configure_file(packaging/vantrel.1 vantrel.1 @ONLY)
set(VANTREL_TO_TEXT sh ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/to-text.sh)
add_custom_command(OUTPUT vantrel.txt COMMAND ${VANTREL_TO_TEXT} vantrel.1 vantrel.txt man
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/vantrel.1 packaging/windows/to-text.sh)
add_custom_command(OUTPUT LICENSE.txt COMMAND ${VANTREL_TO_TEXT} ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE LICENSE.txt
  DEPENDS LICENSE packaging/windows/to-text.sh)
add_custom_target(documents ALL DEPENDS vantrel.txt LICENSE.txt)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vantrel.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)

# build-windows/vantrel-VERSION-setup.exe and vantrel-VERSION-windows.zip.
set(VANTREL_STAGE ${CMAKE_CURRENT_BINARY_DIR}/stage)
add_custom_target(installer
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${VANTREL_STAGE}
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_CURRENT_BINARY_DIR} --prefix ${VANTREL_STAGE} --strip
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/make-package.sh ${VANTREL_STAGE} ${PROJECT_VERSION}
          ${CMAKE_CURRENT_BINARY_DIR} $<$<BOOL:${VANTREL_PANEL}>:panel>
  DEPENDS vantrel documents $<$<BOOL:${VANTREL_PANEL}>:vantrel-panel>
  VERBATIM)
