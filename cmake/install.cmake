# Where each piece goes when installed, and the Debian package made from that.
include(GNUInstallDirs)

set(ZARVIK_APP_ID org.zarvik.Zarvik)
set(ZARVIK_DATA_DIR ${CMAKE_INSTALL_DATADIR}/zarvik)

install(TARGETS zarvik-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET zarvik-sim)
  install(TARGETS zarvik-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET zarvik)
  install(TARGETS zarvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} BUNDLE DESTINATION .)
  # Help.txt where the window looks for it: beside the program on Windows and in the
  # macOS bundle, in the shared data folder elsewhere.
  if(APPLE)
    install(FILES ${PROJECT_SOURCE_DIR}/res/Help.txt ${PROJECT_SOURCE_DIR}/res/Help_en.txt DESTINATION zarvik.app/Contents/MacOS)
  elseif(WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/res/Help.txt ${PROJECT_SOURCE_DIR}/res/Help_en.txt DESTINATION ${CMAKE_INSTALL_BINDIR})
  else()
    install(FILES ${PROJECT_SOURCE_DIR}/res/Help.txt ${PROJECT_SOURCE_DIR}/res/Help_en.txt DESTINATION ${ZARVIK_DATA_DIR})
  endif()
  if(ZARVIK_QM_FILES)
    if(WIN32 OR APPLE)
      install(FILES ${ZARVIK_QM_FILES} DESTINATION ${CMAKE_INSTALL_BINDIR}/translations)
    else()
      install(FILES ${ZARVIK_QM_FILES} DESTINATION ${ZARVIK_DATA_DIR}/translations)
    endif()
  endif()
  # On Windows and macOS the Qt libraries and plugins the window needs, gathered by
  # Qt's deployment tool. FILENAME_VARIABLE: Qt 6.4 (Debian 12) predates OUTPUT_SCRIPT.
  if(WIN32 OR APPLE)
    qt_generate_deploy_app_script(TARGET zarvik FILENAME_VARIABLE zarvik_deploy_script NO_UNSUPPORTED_PLATFORM_ERROR)
    install(SCRIPT ${zarvik_deploy_script})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/${ZARVIK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/${ZARVIK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/res/zarvik.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${ZARVIK_APP_ID}.svg)
endif()
if(TARGET zarvik-win32)
  # The native window, with the help it shows in either language, beside the command line.
  install(TARGETS zarvik-win32 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/res/Help.txt ${PROJECT_SOURCE_DIR}/res/Help_en.txt DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(WIN32)
  # The licence as a Windows user reads it: the notice in both languages, then the GNU
  # GPL's own text, with Windows line ends for Notepad and the installer's licence page.
  file(READ ${PROJECT_SOURCE_DIR}/packaging/notice.txt zarvik_notice)
  file(READ ${PROJECT_SOURCE_DIR}/COPYING zarvik_gpl)
  set(zarvik_license "${zarvik_notice}\n${zarvik_gpl}")
  string(REPLACE "\r\n" "\n" zarvik_license "${zarvik_license}")
  string(REPLACE "\n" "\r\n" zarvik_license "${zarvik_license}")
  file(WRITE ${PROJECT_BINARY_DIR}/LICENSE.txt "${zarvik_license}")
  install(FILES ${PROJECT_BINARY_DIR}/LICENSE.txt ${PROJECT_SOURCE_DIR}/COPYING DESTINATION .)
  # The mark of a portable copy: the .zip carries it beside the programs, and the
  # installer removes it again (below), so an installed copy keeps its settings per user.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/portable.txt DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(DEFINED ZARVIK_BLINK_HEX)
  # The example's built files only where a build made them: packaging a build of
  # the programs alone must not stop for want of them.
  install(FILES ${PROJECT_SOURCE_DIR}/examples/blink/blink.c DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zarvik/examples/blink)
  install(FILES ${ZARVIK_BLINK_HEX} ${ZARVIK_BLINK_EEP} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zarvik/examples/blink OPTIONAL)
endif()

# Manual pages from the programs' own --help, where they can run here.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP AND NOT CMAKE_CROSSCOMPILING)
  set(man_dir ${PROJECT_BINARY_DIR}/man)
  set(man_pages)
  foreach(program zarvik-cli zarvik-sim zarvik)
    if(NOT TARGET ${program})
      continue()
    endif()
    if(program STREQUAL "zarvik-cli")
      set(what "erase, write, verify and read AVR flash and EEPROM through a serial loader")
    elseif(program STREQUAL "zarvik-sim")
      set(what "a simulated AVR board with the serial loader, on a pseudo-terminal")
    else()
      set(what "the Zarvik programmer's window")
    endif()
    add_custom_command(
      OUTPUT ${man_dir}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
      # In English, as manual pages on Debian are.
      COMMAND ${CMAKE_COMMAND} -E env LANGUAGE=en LANG=C.UTF-8 ${HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${what}
              --output=${man_dir}/${program}.1 $<TARGET_FILE:${program}>
      COMMAND ${GZIP} -9nf ${man_dir}/${program}.1
      DEPENDS ${program}
      VERBATIM)
    list(APPEND man_pages ${man_dir}/${program}.1.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# What a Debian package must carry besides the programs.
if(GZIP AND NOT WIN32)
  set(deb_doc ${PROJECT_BINARY_DIR}/deb-doc)
  add_custom_command(
    OUTPUT ${deb_doc}/changelog.Debian.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${deb_doc}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog ${deb_doc}/changelog.Debian
    COMMAND ${GZIP} -9nf ${deb_doc}/changelog.Debian
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
  add_custom_target(deb_changelog ALL DEPENDS ${deb_doc}/changelog.Debian.gz)
  install(FILES ${deb_doc}/changelog.Debian.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zarvik)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME zarvik)
endif()

set(CPACK_PACKAGE_NAME zarvik)
set(CPACK_PACKAGE_VENDOR "The Zarvik developers")
set(CPACK_PACKAGE_CONTACT "The Zarvik developers <developers@zarvik.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "programmer for AVR microcontrollers with a serial loader")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME zarvik-${PROJECT_VERSION})
if(WIN32)
  # A portable .zip to unpack anywhere, and an installer where makensis is there
  # (Debian's nsis): a Start-menu entry, an uninstaller and an entry among the
  # installed apps, which the NSIS generator writes under the Uninstall registry key.
  set(CPACK_PACKAGE_FILE_NAME zarvik-${PROJECT_VERSION}-win64)
  set(CPACK_GENERATOR ZIP)
  find_program(ZARVIK_MAKENSIS makensis)
  if(ZARVIK_MAKENSIS)
    list(APPEND CPACK_GENERATOR NSIS)
  endif()
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Zarvik)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Zarvik)
  # A 64-bit installer for the 64-bit programs: it runs where no 32-bit layer is (a
  # 64-bit-only Wine, say) and writes the 64-bit registry and Program Files.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_DISPLAY_NAME Zarvik)
  set(CPACK_NSIS_PACKAGE_NAME Zarvik)
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/res/win/zarvik.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/res/win/zarvik.ico)
  set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\zarvik.exe")
  # The installed copy is replaced by the preinstall commands below, once it is known
  # not to run (CPack's own step would run its uninstaller before any page is shown).
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL OFF)
  set(CPACK_NSIS_MODIFY_PATH OFF)
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY bin)
  if(TARGET zarvik-win32)
    set(CPACK_PACKAGE_EXECUTABLES "zarvik;Zarvik")
    # The last page's "Run Zarvik" box (MUI words it in the installer's language).
    set(CPACK_NSIS_MUI_FINISHPAGE_RUN zarvik.exe)
  endif()
  # The installer speaks the system's language: CPack's script loads Russian among its
  # language tables, and NSIS starts in the one that matches the user's interface
  # language, English otherwise.
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "Delete \\\"$INSTDIR\\\\${CMAKE_INSTALL_BINDIR}\\\\portable.txt\\\"")
  # Neither the installer nor the uninstaller goes on while the installed zarvik.exe
  # runs: its file cannot be replaced or removed then, and the uninstaller would report
  # success with the program left behind. A running program's file does not open for
  # writing; until it does, the user is asked to close Zarvik (Retry), or gives up
  # (Cancel, and the answer of a silent run), which changes nothing.
  function(zarvik_nsis_wait_until_closed prefix out)
    set(exe "\\\"$INSTDIR\\\\${CMAKE_INSTALL_BINDIR}\\\\zarvik.exe\\\"")
    set(${out} "
  ${prefix}_check:
  IfFileExists ${exe} 0 ${prefix}_closed
  ClearErrors
  FileOpen $R8 ${exe} a
  IfErrors 0 ${prefix}_free
  StrCmp $LANGUAGE 1049 0 ${prefix}_english
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \\\"Zarvik запущен. Закройте окно Zarvik и нажмите «Повтор».\\\" /SD IDCANCEL IDRETRY ${prefix}_check
  Goto ${prefix}_refused
  ${prefix}_english:
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \\\"Zarvik is running. Close the Zarvik window, then press Retry.\\\" /SD IDCANCEL IDRETRY ${prefix}_check
  ${prefix}_refused:
  SetErrorLevel 2
  Abort
  ${prefix}_free:
  FileClose $R8
  ${prefix}_closed:
" PARENT_SCOPE)
  endfunction()
  zarvik_nsis_wait_until_closed(zarvik_install install_wait)
  zarvik_nsis_wait_until_closed(zarvik_uninstall uninstall_wait)
  # Then the copy installed before is removed by its own uninstaller, silently (the
  # settings are kept), in its folder, before the new files go in.
  set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "${install_wait}
  ReadRegStr $R7 HKLM \\\"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Zarvik\\\" \\\"UninstallString\\\"
  StrCmp $R7 \\\"\\\" zarvik_install_fresh
  StrCpy $R6 $R7 1
  StrCmp $R6 '\\\"' 0 +2
  StrCpy $R7 $R7 \\\"\\\" 1
  StrCpy $R6 $R7 1 -1
  StrCmp $R6 '\\\"' 0 +2
  StrCpy $R7 $R7 -1
  IfFileExists $R7 0 zarvik_install_fresh
  StrLen $R6 \\\"\\\\Uninstall.exe\\\"
  StrCpy $R5 $R7 -$R6
  ExecWait '\\\"$R7\\\" /S _?=$R5'
  zarvik_install_fresh:
")
  # The settings are the user's, not the installation's: asked, and kept when the
  # uninstaller runs silently (/S). ReadEnvStr, not $APPDATA: the uninstaller of a
  # machine-wide installation works in the all-users context, where $APPDATA names
  # ProgramData.
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "${uninstall_wait}
  ReadEnvStr $R9 APPDATA
  StrCmp $R9 \\\"\\\" zarvik_settings_done
  IfFileExists \\\"$R9\\\\Zarvik\\\\*.*\\\" 0 zarvik_settings_done
  StrCmp $LANGUAGE 1049 0 zarvik_settings_english
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \\\"Удалить и настройки Zarvik (частоту МК, время ожидания и последний выбор модели, порта, скорости, файлов и сброса по DTR) из $R9\\\\Zarvik?\\\" /SD IDNO IDYES zarvik_settings_remove IDNO zarvik_settings_done
  zarvik_settings_english:
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \\\"Also remove the Zarvik settings (the MCU clock, the wait time and the last choice of model, port, speed, files and reset by DTR) from $R9\\\\Zarvik?\\\" /SD IDNO IDYES zarvik_settings_remove IDNO zarvik_settings_done
  zarvik_settings_remove:
  RMDir /r \\\"$R9\\\\Zarvik\\\"
  zarvik_settings_done:
")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gcc-avr, avr-libc, avrdude")
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  # CPack puts the summary first and indents each of these lines itself.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Zarvik erases, writes, verifies and reads the flash and EEPROM of ATmega8,
ATmega88, ATmega168 and ATmega328 microcontrollers that carry a small
resident loader, over one serial port, from Intel HEX or ELF files. It
checks the chip's model before it touches memory, starts the user program
and sets the loader's start-up wait.
.
The package holds the window (zarvik), the command line for build scripts
and production lines (zarvik-cli) and a simulated board (zarvik-sim).")
endif()
include(CPack)
