# The Linux install layout (GNUInstallDirs) and its packages: a .deb for
# Debian and its derivatives, and a .tar.gz of the same tree.
include(GNUInstallDirs)
find_program(GZIP gzip REQUIRED)

# Manual pages and the Debian changelog go compressed, as Debian wants them.
set(compressed "")
foreach(source man/rastrel1.1 man/rastrel2.1 packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${CMAKE_BINARY_DIR}/doc/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${GZIP} -9n -c ${CMAKE_SOURCE_DIR}/${source} > ${output}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed})
list(POP_FRONT compressed man1 man2 changelog)

install(TARGETS rastrel1 rastrel2 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${man1} ${man2} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md LICENSE packaging/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME rastrel)

set(CPACK_GENERATOR DEB TGZ)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The rastrel authors <rastrel@users.noreply.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tile lists, mosaic scripts and calibration for raster maps")
set(CPACK_PACKAGE_DESCRIPTION "Two small console programs for people who make calibrated raster maps for
moving-map software from a tile server. rastrel1 takes a block of tiles and
writes URL lists for wget and a script that merges the downloaded tiles;
rastrel2 writes the Netpbm commands that join the tiles into one image and an
OziExplorer .map file that calibrates it in UTM zone 33 on WGS 84.

Neither program downloads or draws anything. Both are statically linked.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
