# What `cpack -G DEB` puts in the Debian package, and the package's fields.
include(GNUInstallDirs)

# The receiver that keeps its files in the user's data folder: Lumora itself in a package
# build, else the installed variant built beside it.
if(LUMORA_PACKAGE)
  install(TARGETS Lumora RUNTIME DESTINATION bin)
elseif(TARGET LumoraInstalado)
  install(TARGETS LumoraInstalado RUNTIME DESTINATION bin)  # its file name is Lumora
endif()
if(TARGET Modrevo)
  install(TARGETS Modrevo RUNTIME DESTINATION bin)
endif()

# Each program's manual page, kept in roff beside the code in docs/ and compressed as Debian
# wants it when building, so the package always holds the page as it stands.
set(paginas Lumora)
if(TARGET Modrevo)
  list(APPEND paginas Modrevo)
endif()
set(manuais)
foreach(programa ${paginas})
  set(pagina ${PROJECT_SOURCE_DIR}/docs/${programa}.1)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${programa}.1.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${pagina} ${CMAKE_BINARY_DIR}/${programa}.1
                     COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/${programa}.1
                     DEPENDS ${pagina} VERBATIM)
  list(APPEND manuais ${CMAKE_BINARY_DIR}/${programa}.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/${programa}.1.gz DESTINATION share/man/man1)
endforeach()
add_custom_target(manuais ALL DEPENDS ${manuais})
# The package preset builds only the programs before packing: they bring their pages along.
foreach(programa Lumora LumoraInstalado Modrevo)
  if(TARGET ${programa})
    add_dependencies(${programa} manuais)
  endif()
endforeach()

set(pk ${CMAKE_CURRENT_LIST_DIR})
# The software centre's entries, each naming its menu entry.
install(FILES ${pk}/lumora.metainfo.xml ${pk}/modrevo.metainfo.xml DESTINATION share/metainfo)
install(FILES ${pk}/lumora.desktop ${pk}/modrevo.desktop DESTINATION share/applications)
install(FILES ${pk}/lumora-autostart.desktop DESTINATION share/lumora/autostart
        RENAME lumora.desktop)
install(FILES ${pk}/icons/lumora.svg ${pk}/icons/modrevo.svg
        DESTINATION share/icons/hicolor/scalable/apps)
foreach(t 16 22 24 32 48 64 128 256)
  install(FILES ${pk}/icons/${t}x${t}/lumora.png ${pk}/icons/${t}x${t}/modrevo.png
          DESTINATION share/icons/hicolor/${t}x${t}/apps)
endforeach()
install(FILES ${pk}/lumora.service DESTINATION lib/systemd/system)
install(FILES ${pk}/copyright ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/lumora)
install(FILES ${pk}/monitoring/lumora-alerts.yml DESTINATION share/doc/lumora/examples)
execute_process(COMMAND gzip -9nc ${pk}/changelog
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION share/doc/lumora)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Lumora maintainers <maintainers@lumora.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exit-gate receiver and Ethernet-module IP manager")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Lumora runs the exit turnstiles of a venue whose visitors carry a consumption\n\
card: terminals connect over TCP, every card read is checked against the card\n\
list, and the day's history is kept in XML files. Modrevo finds the gate\n\
terminals' Ethernet modules on the local network and changes their IP\n\
settings.\n\
\n\
The package holds both programs with menu entries, an autostart entry to copy\n\
and a systemd unit for running the receiver without a display (both off).")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://lumora.example/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own texts (standard buttons, file choosers) in the programs' language.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${pk}/postinst ${pk}/prerm ${pk}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

if(LUMORA_BUILD_TESTS)
  # Packs this tree and checks the package's contents; skipped where dpkg's tools are missing.
  add_test(NAME package_contents
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-package.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_contents PROPERTIES SKIP_RETURN_CODE 77 LABELS package)
endif()
