# The Windows release archive (cpack -G ZIP, see tools/package): the program
# at the top with its README and licence, the stand-in token module, its
# tool and the key-management library in stand-ins/, since a real
# deployment uses the vendor's DLLs.
install(TARGETS TokenManager RUNTIME DESTINATION . COMPONENT program)
configure_file(${PROJECT_SOURCE_DIR}/docs/windows/README.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION . COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT program)
install(TARGETS tolvane11 vexpke softtoken
  RUNTIME DESTINATION stand-ins LIBRARY DESTINATION stand-ins COMPONENT program)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME "TolvaneTokenManager")
set(CPACK_PACKAGE_VENDOR "Tolvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
