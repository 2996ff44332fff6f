# The Debian package: the application and its desktop data, installed under /usr (cpack -G DEB, or
# scripts/package).
include(GNUInstallDirs)

# Installs a file compressed as Debian wants documentation and manual pages: gzip -9n, the highest level
# and no name or time stamp, so the file is the same at every build.
function(ferrovane_install_gzipped file destination)
  get_filename_component(name ${file} NAME)
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/gzipped/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${copy}
    COMMAND gzip -9nf ${copy}
    DEPENDS ${file}
    VERBATIM)
  add_custom_target(gzip_${name} ALL DEPENDS ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION ${destination})
endfunction()

# The doc folder is named after the package, not the project: Debian tools look for it there.
set(ferrovane_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/ferrovane)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION ${ferrovane_doc_dir})
ferrovane_install_gzipped(${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${ferrovane_doc_dir})

# A version without a patch number reads as x.y.0, the form the AppStream release and changelog use.
if(PROJECT_VERSION_PATCH STREQUAL "")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
else()
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferrovane)
set(CPACK_PACKAGE_VENDOR "Ferrovane developers")
set(CPACK_PACKAGE_CONTACT "Ferrovane developers <ferrovane@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "instant replay of the screen: save its last seconds as a video")
# Debian shows the long description as is: lines of at most 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
  "Ferrovane keeps a rolling recording of the main display and, on Ctrl+Alt+R,
saves the last seconds as an MP4 clip in ~/Videos/Ferrovane. A small panel at
the top of the screen shows the clip and copies, plays or reveals it.

Nothing leaves the machine: the rolling buffer lives in a private folder under
XDG_RUNTIME_DIR and is deleted when recording stops or the screen locks.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: the panel draws its symbols from this font file, and the save sound
# comes from the freedesktop theme (without it the save is silent, nothing breaks).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-material-design-icons-iconfont")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sound-theme-freedesktop")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Install rules give files 0644 and 0755 whatever the umask, but not the directories they create.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackagePermissions.cmake)

include(CPack)
