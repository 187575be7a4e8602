# The application icon's files, rendered at build time by quillmark-icons
# (icon/) into ${QM_ICON_DIR}; the target quillmark_icon_files makes them.
#
#   QM_ICON_ICO          Quillmark.ico: both programs' icon and the installer's
#   QM_ICON_ICNS         AppIcon.icns: Quillmark.app's icon and the disk image's
#   QM_ICON_WELCOME_BMP  the installer's welcome and finish panel
#   QM_ICON_HEADER_BMP   the installer's page header
set(QM_ICON_DIR ${CMAKE_BINARY_DIR}/icon)
set(QM_ICON_ICO ${QM_ICON_DIR}/Quillmark.ico)
set(QM_ICON_ICNS ${QM_ICON_DIR}/AppIcon.icns)
set(QM_ICON_WELCOME_BMP ${QM_ICON_DIR}/installer-welcome.bmp)
set(QM_ICON_HEADER_BMP ${QM_ICON_DIR}/installer-header.bmp)
set(QM_ICON_FILES ${QM_ICON_ICO} ${QM_ICON_ICNS} ${QM_ICON_WELCOME_BMP} ${QM_ICON_HEADER_BMP})

if(CMAKE_CROSSCOMPILING)
  # The tool must run here: a project of its own, built with the build
  # machine's compiler and cairo. It is built at every build, which costs
  # nothing when nothing changed and picks up any change to the drawing.
  include(ExternalProject)
  set(QM_ICON_TOOL_DIR ${CMAKE_BINARY_DIR}/icon-tool)
  set(QM_ICON_TOOL ${QM_ICON_TOOL_DIR}/quillmark-icons${CMAKE_HOST_EXECUTABLE_SUFFIX})
  ExternalProject_Add(quillmark_icon_tool
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/icon
    BINARY_DIR ${QM_ICON_TOOL_DIR}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DQM_WERROR=${QM_WERROR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS TRUE
    BUILD_BYPRODUCTS ${QM_ICON_TOOL}
  )
  set(QM_ICON_TOOL_DEPENDS quillmark_icon_tool ${QM_ICON_TOOL})
else()
  add_subdirectory(icon ${CMAKE_BINARY_DIR}/icon-tool)
  set(QM_ICON_TOOL $<TARGET_FILE:quillmark-icons>)
  set(QM_ICON_TOOL_DEPENDS quillmark-icons)
endif()

add_custom_command(
  OUTPUT ${QM_ICON_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QM_ICON_DIR}
  COMMAND ${QM_ICON_TOOL} ${QM_ICON_DIR}
  DEPENDS ${QM_ICON_TOOL_DEPENDS}
  COMMENT "Rendering the application icon"
  VERBATIM
)
add_custom_target(quillmark_icon_files ALL DEPENDS ${QM_ICON_FILES})
