# The installed layout: <prefix>/bin/zunaro, the resource folder <prefix>/share/zunaro (the
# folders that build the chime, the user guide and the language catalogues install their own
# files there), and what a desktop and systemd need to know of the program: the launcher,
# the AppStream metainfo, the icon in the hicolor theme and the user service.
include(GNUInstallDirs)

# `cmake --install` and the package take what the build made; they never build themselves
# (the package test runs cpack after the build, and must not start it again).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(zunaro_packaging ${CMAKE_SOURCE_DIR}/packaging)
set(zunaro_app_id org.zunaro.Zunaro)

# Icon sizes of the hicolor theme, rendered from the program's own artwork at build time (the
# scalable SVG itself is installed with the user guide's tools).
find_package(Qt6 6.4 REQUIRED COMPONENTS Gui Svg)
add_executable(zunaro_svgpng ${CMAKE_SOURCE_DIR}/tools/svgpng/main.cpp)
target_link_libraries(zunaro_svgpng PRIVATE Qt6::Gui Qt6::Svg)
set_target_properties(zunaro_svgpng PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

set(zunaro_icon_svg ${CMAKE_SOURCE_DIR}/res/icons/zunaro.svg)
set(zunaro_icon_sizes 16 22 24 32 48 64 128 256)
set(zunaro_icon_dir ${CMAKE_BINARY_DIR}/icons)
set(zunaro_icon_pngs)
foreach(size ${zunaro_icon_sizes})
    list(APPEND zunaro_icon_pngs ${zunaro_icon_dir}/${size}x${size}/apps/zunaro.png)
endforeach()
add_custom_command(
    OUTPUT ${zunaro_icon_pngs}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            $<TARGET_FILE:zunaro_svgpng> ${zunaro_icon_svg} ${zunaro_icon_dir} ${zunaro_icon_sizes}
    DEPENDS zunaro_svgpng ${zunaro_icon_svg}
    COMMENT "Rendering the program icon for the hicolor theme"
    VERBATIM)
add_custom_target(zunaro_icons ALL DEPENDS ${zunaro_icon_pngs})
foreach(size ${zunaro_icon_sizes})
    install(FILES ${zunaro_icon_dir}/${size}x${size}/apps/zunaro.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Launcher and AppStream metainfo.
install(FILES ${zunaro_packaging}/zunaro.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${zunaro_packaging}/${zunaro_app_id}.metainfo.xml
               ${CMAKE_BINARY_DIR}/packaging/${zunaro_app_id}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${zunaro_app_id}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The systemd user unit names the program by its full path, which is known only when
# installing (`cmake --install --prefix ...`, or /usr inside the package): it is written then.
set(zunaro_unit ${CMAKE_BINARY_DIR}/packaging/zunaro.service)
install(CODE "
    set(ZUNARO_INSTALLED_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/zunaro\")
    set(ZUNARO_INSTALLED_DOC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc/zunaro\")
    configure_file(\"${zunaro_packaging}/zunaro.service.in\" \"${zunaro_unit}\" @ONLY)
")
install(FILES ${zunaro_unit} DESTINATION lib/systemd/user)

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zunaro)

# `zunaro --version` and the About box show the project version.
target_compile_definitions(zunaro PRIVATE ZUNARO_VERSION="${PROJECT_VERSION}")
