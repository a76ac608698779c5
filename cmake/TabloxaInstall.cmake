# Install rules and the Debian packages: `cmake --install` puts the programs, their manual pages,
# the wizard's manual, desktop entry, icon and AppStream metadata in the usual places under the
# prefix; `cpack -G DEB` in a Release build folder makes the packages tabloxa (pellorin) and
# tabloxa-wizard (drelk).
include(GNUInstallDirs)

set(packaging_source ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_build ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_build})
find_program(TABLOXA_GZIP gzip REQUIRED)

# The installed wizard looks for its manual there, relative to its own folder.
file(RELATIVE_PATH doc_dir_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DOCDIR})
if(TARGET tabloxa_GUI2)
    target_compile_definitions(tabloxa_GUI2 PRIVATE TABLOXA_DOC_DIR_FROM_BIN="${doc_dir_from_bin}")
endif()

# Manual pages and changelogs are installed compressed, without a time stamp in the gzip header.
set(packaging_outputs "")
function(tabloxa_gzip input output)
    add_custom_command(OUTPUT ${output}
        COMMAND ${TABLOXA_GZIP} -9nc ${input} > ${output}
        DEPENDS ${input} VERBATIM)
    set(packaging_outputs ${packaging_outputs} ${output} PARENT_SCOPE)
endfunction()

configure_file(${packaging_source}/changelog.in ${packaging_build}/changelog @ONLY)
tabloxa_gzip(${packaging_build}/changelog ${packaging_build}/changelog.gz)
tabloxa_gzip(${packaging_source}/pellorin.1 ${packaging_build}/pellorin.1.gz)

install(TARGETS pellorin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT agent)
install(FILES ${packaging_build}/pellorin.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT agent)
install(FILES ${packaging_source}/copyright ${packaging_build}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT agent)

if(TARGET drelk)
    tabloxa_gzip(${packaging_source}/drelk.1 ${packaging_build}/drelk.1.gz)
    configure_file(${packaging_source}/com.example.tabloxa.wizard.metainfo.xml
                   ${packaging_build}/com.example.tabloxa.wizard.metainfo.xml @ONLY)

    # The icon is the wizard's own, drawn by its code: written at build time, so the two never
    # drift apart.
    add_executable(drelk_icon ${packaging_source}/drelk_icon.cpp)
    target_link_libraries(drelk_icon PRIVATE tabloxa_wizard)
    add_custom_command(OUTPUT ${packaging_build}/tabloxa-wizard.png
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
                $<TARGET_FILE:drelk_icon> ${packaging_build}/tabloxa-wizard.png
        DEPENDS drelk_icon VERBATIM)
    list(APPEND packaging_outputs ${packaging_build}/tabloxa-wizard.png)

    install(TARGETS drelk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT wizard)
    install(FILES ${PROJECT_SOURCE_DIR}/src/wizard/drelk.html DESTINATION ${CMAKE_INSTALL_DOCDIR}
            COMPONENT wizard)
    install(FILES ${packaging_build}/drelk.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT wizard)
    install(FILES ${packaging_source}/tabloxa-wizard.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT wizard)
    install(FILES ${packaging_build}/tabloxa-wizard.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps COMPONENT wizard)
    install(FILES ${packaging_build}/com.example.tabloxa.wizard.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT wizard)
    install(FILES ${packaging_source}/copyright ${packaging_build}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tabloxa-wizard COMPONENT wizard)
endif()

add_custom_target(tabloxa_install_files ALL DEPENDS ${packaging_outputs})

# The wizard's tests install it into a folder of their own.
if(TARGET tests_wizard)
    add_dependencies(tests_wizard tabloxa_install_files)
    target_compile_definitions(tests_wizard PRIVATE TABLOXA_CMAKE_COMMAND="${CMAKE_COMMAND}")
endif()

# Debian packages, one per component; their dependencies on shared libraries are computed by
# dpkg-shlibdeps from the programs themselves.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tabloxa)
set(CPACK_PACKAGE_VENDOR Quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quorvane <support@example.com>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.example.com/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_AGENT_PACKAGE_NAME tabloxa)
set(CPACK_DEBIAN_AGENT_PACKAGE_RECOMMENDS tdsodbc)
set(CPACK_COMPONENT_AGENT_DESCRIPTION
    "export SQL Server databases to CSV files (console agent)
pellorin exports one Microsoft SQL Server or Azure SQL database into a folder
of CSV files: one file per table and one per user-defined SELECT query. It only
reads from the server. It runs unattended from cron or scripts, driven by
command-line options, a profile and a table list file, and reaches the server
through unixODBC with FreeTDS or Microsoft's ODBC driver.")
set(CPACK_COMPONENTS_ALL agent)

if(TARGET drelk)
    set(CPACK_DEBIAN_WIZARD_PACKAGE_NAME tabloxa-wizard)
    set(CPACK_DEBIAN_WIZARD_PACKAGE_SECTION database)
    set(CPACK_COMPONENT_WIZARD_DEPENDS agent)
    set(CPACK_COMPONENT_WIZARD_DESCRIPTION
        "export SQL Server databases to CSV files (desktop wizard)
drelk is a desktop wizard that exports one Microsoft SQL Server or Azure SQL
database into a folder of CSV files: it connects to the server, lets you choose
the database, the destination folder, the CSV options, the tables and your own
SELECT queries, runs the export and saves the settings as a profile for the
console agent pellorin.")
    list(APPEND CPACK_COMPONENTS_ALL wizard)
endif()

include(CPack)
