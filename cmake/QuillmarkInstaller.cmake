# The Windows installer: `cpack` in a Windows build makes
# Quillmark-<version>-setup.exe with NSIS, from the template in cmake/nsis
# (a per-user install that needs no administrator).
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME Quillmark)
set(CPACK_PACKAGE_VENDOR Vellum)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY Quillmark)
set(CPACK_PACKAGE_FILE_NAME Quillmark-${PROJECT_VERSION}-setup)
set(QM_INSTALLER ${CMAKE_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}.exe)
set(CPACK_NSIS_PACKAGE_NAME Quillmark)
set(CPACK_NSIS_DISPLAY_NAME Quillmark)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
# Quillmark's icon and the panels drawn from it (cmake/QuillmarkIcon.cmake).
set(CPACK_NSIS_MUI_ICON ${QM_ICON_ICO})
set(CPACK_NSIS_MUI_UNIICON ${QM_ICON_ICO})
set(CPACK_NSIS_MUI_WELCOMEFINISHPAGE_BITMAP ${QM_ICON_WELCOME_BMP})
set(CPACK_NSIS_MUI_HEADERIMAGE ${QM_ICON_HEADER_BMP})
# Signing (scripts/sign-windows): the uninstaller as NSIS writes it, when
# cpack runs with a certificate; the template takes the line from there.
find_program(QM_BASH bash)
set(CPACK_QM_BASH ${QM_BASH})
set(CPACK_QM_SIGN_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/sign-windows)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/nsis/QuillmarkSigning.cmake)
# Only the programs: the test libraries install nothing of their own.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Quillmark;ALL;/")
# cpack packs what the build made; it must not start a build of its own
# (the installer test runs it from inside ctest).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/nsis)
include(CPack)
