# The Linux install layout (GNUInstallDirs) and its packages: a .deb for
# Debian and its derivatives, and a .tar.gz of the same tree.
include(GNUInstallDirs)
find_program(GZIP gzip REQUIRED)

# The manual pages name the tile host this build writes; the examples' folder
# is filled in when they are installed, as only then is the prefix known.
set(RASTREL_MAN_PAGES rastrel1.1 rastrel2.1 rastrel-merge.1 rastrel-map.1)
set(RASTREL_EXAMPLES "@RASTREL_EXAMPLES@")
set(configured_pages "")
foreach(page ${RASTREL_MAN_PAGES})
  configure_file(man/${page} ${CMAKE_BINARY_DIR}/doc/${page} @ONLY)
  list(APPEND configured_pages ${CMAKE_BINARY_DIR}/doc/${page})
endforeach()

# The Debian changelog goes compressed, as Debian wants it.
set(changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${GZIP} -9n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${changelog}
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(compressed_docs ALL DEPENDS ${changelog})

install(TARGETS rastrel1 rastrel2 rastrel-merge rastrel-map RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(CODE "set(rastrel_pages \"${configured_pages}\")
  set(rastrel_docdir \"${CMAKE_INSTALL_DOCDIR}\")
  set(rastrel_mandir \"${CMAKE_INSTALL_MANDIR}\")
  set(rastrel_gzip \"${GZIP}\")")
install(SCRIPT cmake/install_man_pages.cmake)
install(FILES README.md LICENSE packaging/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES examples/merge_fn.cmd examples/merge_fn.sh DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME rastrel)

# The .deb's control file; packaging/package.py adds Installed-Size.
configure_file(packaging/control.in ${CMAKE_BINARY_DIR}/control @ONLY)
set(RASTREL_PACKAGES rastrel-${RASTREL_PACKAGE_VERSION}-${RASTREL_PACKAGE_SUFFIX}.tar.gz ${CMAKE_BINARY_DIR}/control
  rastrel_${RASTREL_PACKAGE_VERSION}_amd64.deb)
set(RASTREL_PACKAGE_DEPENDS compressed_docs)
