# What an installation holds besides the programs, and the Debian package (CPack, DEB).
#   cmake -S . -B build/package -DCMAKE_INSTALL_PREFIX=/usr ... && cpack --config
#   build/package/CPackConfig.cmake      (tools/dev.sh package does both)

set(PAGELOOM_APPSTREAM_ID "org.pageloom.pageloom")
set(PAGELOOM_HOMEPAGE "https://pageloom.example" CACHE STRING "The project's web address")
set(PAGELOOM_SCREENSHOT_URL "${PAGELOOM_HOMEPAGE}/screenshot.png" CACHE STRING
  "Where res/screenshot.png is published (the AppStream metainfo refers to it)")
set(PAGELOOM_MAINTAINER "pageLoom maintainers <maintainers@users.noreply.c-seed-20b231d5.example>")

# The release date is that of the changelog's newest entry, whose version must be this one.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog changelog_lines)
list(GET changelog_lines 0 changelog_top)
if(NOT changelog_top MATCHES "^pageloom \\(${PROJECT_VERSION}\\) ")
  message(WARNING "packaging/changelog: its newest entry is not version ${PROJECT_VERSION}")
endif()
foreach(line IN LISTS changelog_lines)
  if(line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ")
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND months ${CMAKE_MATCH_2} month)
    math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
    if(month LESS 10)
      set(month "0${month}")
    endif()
    set(PAGELOOM_RELEASE_DATE "${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1}")
    break()
  endif()
endforeach()

set(generated ${PROJECT_BINARY_DIR}/packaging)
configure_file(${CMAKE_CURRENT_LIST_DIR}/pageloom.metainfo.xml.in
  ${generated}/${PAGELOOM_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/man/pageloom-cli.1.in ${generated}/pageloom-cli.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/man/pageLoom.1.in ${generated}/pageLoom.1 @ONLY)

# Manual pages and the changelog are installed compressed, without a time stamp.
set(compressed)
foreach(file ${generated}/pageloom-cli.1 ${generated}/pageLoom.1
    ${CMAKE_CURRENT_LIST_DIR}/changelog)
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${generated}/${name}.gz
    COMMAND gzip -9nc ${file} > ${generated}/${name}.gz
    DEPENDS ${file} VERBATIM)
  list(APPEND compressed ${generated}/${name}.gz)
endforeach()
add_custom_target(pageloom_docs ALL DEPENDS ${compressed})

set(docdir ${CMAKE_INSTALL_DATADIR}/doc/pageloom)
install(FILES ${generated}/pageloom-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${generated}/changelog.gz DESTINATION ${docdir})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/pageloom-cli.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pageloom-cli)
if(PAGELOOM_BUILD_GUI)
  install(FILES ${generated}/pageLoom.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/res/pageloom.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${generated}/${PAGELOOM_APPSTREAM_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 22 24 32 48 64)
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/${size}x${size}/pageloom.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/res/pageloom.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pageloom)
set(CPACK_PACKAGE_VENDOR "pageLoom maintainers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "downloader of online picture galleries and comic chapters")
set(CPACK_PACKAGE_DESCRIPTION
  "pageLoom downloads the pictures of EH galleries and DMZJ comic chapters into\n"
  "folders on disk, from a Qt window (pageLoom) and from a terminal program\n"
  "(pageloom-cli). Pictures already on disk are skipped, the queue lasts between\n"
  "runs, failed pictures are fetched again, and page scripts are evaluated in a\n"
  "helper process that limits itself.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PAGELOOM_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from the programs' own needs (dpkg-shlibdeps); Qt's display plugins, Qt's own
# translations and a Chinese font are loaded at run time, where no binary names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
