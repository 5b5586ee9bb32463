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

# Each program's icon, version information and application manifest.
enable_language(RC)
set(VANTREL_PUBLISHER "Vantrel developers")
set(VANTREL_COPYRIGHT "Copyright (C) 2026 Vantrel developers. GPL 3 or later.")
foreach(part MINOR PATCH TWEAK)
  if(NOT PROJECT_VERSION_${part} STREQUAL "")
    list(APPEND VANTREL_VERSION_NUMBERS ${PROJECT_VERSION_${part}})
  else()
    list(APPEND VANTREL_VERSION_NUMBERS 0)
  endif()
endforeach()
list(PREPEND VANTREL_VERSION_NUMBERS ${PROJECT_VERSION_MAJOR})
list(JOIN VANTREL_VERSION_NUMBERS "," VANTREL_VERSION_COMMAS)
list(JOIN VANTREL_VERSION_NUMBERS "." VANTREL_VERSION_FULL)
set(VANTREL_ICON ${CMAKE_CURRENT_BINARY_DIR}/vantrel.ico)
set(VANTREL_ICON_IMAGES resources/icons/vantrel-16.png resources/icons/vantrel-32.png
    resources/icons/vantrel-48.png resources/icons/vantrel-128.png)
add_custom_command(OUTPUT vantrel.ico
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/make-icon.sh ${VANTREL_ICON} ${VANTREL_ICON_IMAGES}
  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
  DEPENDS ${VANTREL_ICON_IMAGES} packaging/windows/make-icon.sh VERBATIM)
# vantrel_program_resources(TARGET DESCRIPTION)
function(vantrel_program_resources target description)
  set(VANTREL_RC_NAME ${target})
  set(VANTREL_RC_DESCRIPTION ${description})
  set(VANTREL_RC_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  configure_file(packaging/windows/program.manifest.in ${target}.manifest @ONLY)
  configure_file(packaging/windows/program.rc.in ${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}.rc PROPERTIES
    OBJECT_DEPENDS "${VANTREL_ICON};${VANTREL_RC_MANIFEST}")
endfunction()
vantrel_program_resources(vantrel "Vantrel, customer display test panel: command line")
if(VANTREL_PANEL)
  vantrel_program_resources(vantrel-panel "Vantrel, customer display test panel")
  vantrel_program_resources(vantrel-display "Vantrel, customer display: the virtual display on a COM port")
endif()

# What the installer and the zip hold: the programs, the Qt libraries,
# plugins and Chinese texts the panel needs and the MinGW runtime they need
# (vantrel.exe is linked statically), the manual as text and the licence.
# Flat, as Windows programs are: Qt finds its plugins beside the program.
install(TARGETS vantrel RUNTIME DESTINATION .)
if(VANTREL_PANEL)
  install(TARGETS vantrel-panel vantrel-display RUNTIME DESTINATION .)
  get_filename_component(VANTREL_QT_ROOT "${Qt6_DIR}/../../.." ABSOLUTE)
  install(FILES ${VANTREL_QT_ROOT}/bin/Qt6Core.dll ${VANTREL_QT_ROOT}/bin/Qt6Gui.dll ${VANTREL_QT_ROOT}/bin/Qt6Widgets.dll
                ${VANTREL_QT_ROOT}/bin/libstdc++-6.dll ${VANTREL_QT_ROOT}/bin/libgcc_s_seh-1.dll
                ${VANTREL_QT_ROOT}/bin/libwinpthread-1.dll DESTINATION .)
  install(FILES ${VANTREL_QT_ROOT}/plugins/platforms/qwindows.dll DESTINATION platforms)
  install(FILES ${VANTREL_QT_ROOT}/plugins/styles/qwindowsvistastyle.dll DESTINATION styles)
  # Qt's own texts in Chinese (buttons, the file dialog), which the panel
  # loads from translations beside it: the Qt for MinGW's, else the host
  # Qt's of the same version (Debian's qt6-translations-l10n).
  find_file(VANTREL_QT_ZH_CN qtbase_zh_CN.qm NO_CACHE NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
            PATHS ${VANTREL_QT_ROOT}/translations ${QT_HOST_PATH}/share/qt6/translations)
  if(VANTREL_QT_ZH_CN)
    install(FILES ${VANTREL_QT_ZH_CN} DESTINATION translations)
  else()
    message(WARNING "No qtbase_zh_CN.qm (qt6-translations-l10n): the panel's Qt texts stay English in Chinese")
  endif()
endif()
# The manuals: each Linux page with Windows' own ports, files and limits in
# place of Linux's (packaging/windows/manual.awk and *-windows.man), as text;
# the display's with the display.
set(VANTREL_TO_TEXT sh ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/to-text.sh)
set(VANTREL_MANUALS vantrel)
if(VANTREL_PANEL)
  list(APPEND VANTREL_MANUALS vantrel-display)
endif()
set(VANTREL_DOCUMENTS ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt)
foreach(page ${VANTREL_MANUALS})
  configure_file(packaging/${page}.1 ${page}.1 @ONLY)
  set(windows_page ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/${page}-windows.man)
  add_custom_command(OUTPUT ${page}-windows.1
    COMMAND awk -v windows=${windows_page} -f ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/manual.awk
            ${page}.1 > ${page}-windows.1.tmp
    COMMAND ${CMAKE_COMMAND} -E rename ${page}-windows.1.tmp ${page}-windows.1
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page}.1 ${windows_page} packaging/windows/manual.awk)
  add_custom_command(OUTPUT ${page}.txt COMMAND ${VANTREL_TO_TEXT} ${page}-windows.1 ${page}.txt man
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page}-windows.1 packaging/windows/to-text.sh)
  list(APPEND VANTREL_DOCUMENTS ${CMAKE_CURRENT_BINARY_DIR}/${page}.txt)
endforeach()
add_custom_command(OUTPUT LICENSE.txt COMMAND ${VANTREL_TO_TEXT} ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE LICENSE.txt
  DEPENDS LICENSE packaging/windows/to-text.sh)
add_custom_target(documents ALL DEPENDS ${VANTREL_DOCUMENTS})
install(FILES ${VANTREL_DOCUMENTS} DESTINATION .)

# build-windows/vantrel-VERSION-setup.exe and vantrel-VERSION-windows.zip;
# the installer tells of the product what the programs tell.
file(CONFIGURE OUTPUT product.nsh @ONLY CONTENT [[
!define VERSION4 "@VANTREL_VERSION_FULL@"
!define PUBLISHER "@VANTREL_PUBLISHER@"
!define COPYRIGHT "@VANTREL_COPYRIGHT@"
!define ICON "@VANTREL_ICON@"
]])
set(VANTREL_STAGE ${CMAKE_CURRENT_BINARY_DIR}/stage)
add_custom_target(installer
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${VANTREL_STAGE}
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_CURRENT_BINARY_DIR} --prefix ${VANTREL_STAGE} --strip
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/make-package.sh ${VANTREL_STAGE} ${PROJECT_VERSION}
          ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/product.nsh $<$<BOOL:${VANTREL_PANEL}>:panel>
  DEPENDS vantrel documents ${VANTREL_ICON} $<$<BOOL:${VANTREL_PANEL}>:vantrel-panel> $<$<BOOL:${VANTREL_PANEL}>:vantrel-display>
  VERBATIM)
