# The Linux install layout (GNUInstallDirs) and its packages: a .deb for
# Debian and its derivatives, and a .tar.gz of the same tree.
include(GNUInstallDirs)
find_program(GZIP gzip REQUIRED)

# The manual pages name the tile host this build writes.
string(TOLOWER ${RASTREL_TILE_HOST} RASTREL_TILE_HOST_LOWER)
foreach(page rastrel1.1 rastrel2.1)
  configure_file(man/${page} ${CMAKE_BINARY_DIR}/doc/${page} @ONLY)
endforeach()

# Manual pages and the Debian changelog go compressed, as Debian wants them.
set(compressed "")
foreach(source ${CMAKE_BINARY_DIR}/doc/rastrel1.1 ${CMAKE_BINARY_DIR}/doc/rastrel2.1
        ${CMAKE_SOURCE_DIR}/packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${CMAKE_BINARY_DIR}/doc/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${GZIP} -9n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed})
list(POP_FRONT compressed man1 man2 changelog)

install(TARGETS rastrel1 rastrel2 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${man1} ${man2} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md LICENSE packaging/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES examples/keys.sh examples/merge_fn.cmd examples/merge_fn.sh DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME rastrel)

# The .deb's control file; packaging/package.py adds Installed-Size.
configure_file(packaging/control.in ${CMAKE_BINARY_DIR}/control @ONLY)
set(RASTREL_PACKAGES rastrel-${PROJECT_VERSION}-${RASTREL_PACKAGE_SUFFIX}.tar.gz ${CMAKE_BINARY_DIR}/control
  rastrel_${PROJECT_VERSION}_amd64.deb)
set(RASTREL_PACKAGE_DEPENDS compressed_docs)
