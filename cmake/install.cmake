# Install rules, included by the top-level CMakeLists.txt when KRV_INSTALL is on.
include(CMakePackageConfigHelpers)
set(KRV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/korvane)
set(KRV_HEADER_DIR ${CMAKE_INSTALL_INCLUDEDIR}/korvane)

# Every header of the folders the library is built from, under include/korvane/<folder>/. In the
# tree they include one another by their paths from the root ("core/core.h"); installed, each
# such include is rewritten to "korvane/core/core.h", so that a program needs only -I
# PREFIX/include and no generic folder name (math/, base/, platform/) lands on its include path.
set(krv_folders "")
foreach(src ${KRV_SOURCES})
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${src})
    get_filename_component(folder ${rel} DIRECTORY)
    list(APPEND krv_folders ${folder})
endforeach()
if(TARGET krv_sdl)
    list(APPEND krv_folders platform/sdl)
endif()
list(REMOVE_DUPLICATES krv_folders)
list(APPEND krv_folders api)
list(REMOVE_DUPLICATES krv_folders)
set(krv_installed_headers "")
foreach(folder ${krv_folders})
    file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
    foreach(h ${headers})
        get_filename_component(name ${h} NAME)
        list(APPEND krv_installed_headers "${h}|${folder}/${name}")
    endforeach()
endforeach()
list(APPEND krv_installed_headers "${PROJECT_BINARY_DIR}/generated/korvane/krv.h|krv.h"
     "${PROJECT_BINARY_DIR}/generated/korvane/version.h|version.h")
if(TARGET krv_sdl)
    list(APPEND krv_installed_headers "${PROJECT_BINARY_DIR}/generated/korvane/window.h|window.h")
endif()
# The include rewrite runs at install time, on the headers as they are then.
string(REPLACE ";" "," krv_folder_list "${krv_folders}")
install(CODE "set(KRV_HEADERS \"${krv_installed_headers}\")
set(KRV_FOLDERS \"${krv_folder_list}\")
set(KRV_HEADER_DEST \"${KRV_HEADER_DIR}\")")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/install_headers.cmake)

install(TARGETS krv EXPORT korvaneTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT korvaneTargets NAMESPACE korvane:: DESTINATION ${KRV_CMAKE_DIR})
if(TARGET krv_sdl)
    # Its own export set, so that a program finding the package without SDL2 still gets krv.
    install(TARGETS krv_sdl EXPORT korvaneWindowTargets
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(EXPORT korvaneWindowTargets NAMESPACE korvane:: DESTINATION ${KRV_CMAKE_DIR})
endif()

# While the major version is 0, a minor version may break the interface (the soname says the
# same), so 0.2 accepts any 0.2.x and nothing else; SameMajorVersion would let a program asking
# for 0.1 link against 0.2.
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/korvaneConfig.cmake.in
    ${PROJECT_BINARY_DIR}/korvaneConfig.cmake INSTALL_DESTINATION ${KRV_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/korvaneConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/korvaneConfig.cmake
              ${PROJECT_BINARY_DIR}/korvaneConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/FindFreeImage.cmake
        DESTINATION ${KRV_CMAKE_DIR})

# pkg-config. A static archive carries none of its dependencies, so a static build lists them
# under Libs as well as Libs.private: a plain `pkg-config --libs korvane` then links.
# The prefix is found from where the file lies (cmake --install --prefix may move it after
# configuring), unless the library folder is given as an absolute path.
if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR})
    set(KRV_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
    set(KRV_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
else()
    file(RELATIVE_PATH krv_up /x/${CMAKE_INSTALL_LIBDIR}/pkgconfig /x)
    string(REGEX REPLACE "/$" "" krv_up "${krv_up}")
    set(KRV_PC_PREFIX "\${pcfiledir}/${krv_up}")
    set(KRV_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE ${CMAKE_INSTALL_INCLUDEDIR})
    set(KRV_PC_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
else()
    set(KRV_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
get_filename_component(krv_freeimage_dir ${FREEIMAGE_LIBRARY} DIRECTORY)
set(KRV_PC_LIBS_PRIVATE "-lfreeimage -lassimp -pthread")
if(NOT krv_freeimage_dir MATCHES "^(/usr)?/lib")
    set(KRV_PC_LIBS_PRIVATE "-L${krv_freeimage_dir} ${KRV_PC_LIBS_PRIVATE}")
endif()
if(BUILD_SHARED_LIBS)
    set(KRV_PC_LIBS_STATIC "")
else()
    set(KRV_PC_LIBS_STATIC " ${KRV_PC_LIBS_PRIVATE}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/korvane.pc.in ${PROJECT_BINARY_DIR}/korvane.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/korvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(TARGET krv_sdl)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/korvane-window.pc.in
                   ${PROJECT_BINARY_DIR}/korvane-window.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/korvane-window.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The model renderer, for the users of an installed prefix.
if(TARGET krv_render)
    install(TARGETS krv_render RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
