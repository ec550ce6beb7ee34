# The Windows layout of an installed copy, as the SDK keeps it: bin\ holds
# camwarden.exe, every DLL it loads and qt.conf; plugins\ Qt's platform,
# style and picture plugins; lib\gstreamer-1.0\ the GStreamer plugins the
# program uses; licenses\ every component's licence. "cmake --install"
# makes it; the target windows_package turns it into the setup program
# (NSIS) and a portable .zip of the same files.

# Where the SDK keeps its DLLs and plugins, found through Qt and GStreamer
# themselves, wherever the SDK is.
get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(runtime_dir ${qt_core_dll} DIRECTORY)
get_filename_component(sdk_prefix ${runtime_dir} DIRECTORY)
pkg_get_variable(gst_plugin_dir gstreamer-1.0 pluginsdir)
get_filename_component(gst_plugin_dir ${gst_plugin_dir} ABSOLUTE)
set(qt_plugin_dir ${sdk_prefix}/plugins)
set(sdk_licenses ${sdk_prefix}/../licenses)

# Qt: the window system and the look; the icon plugin reads the hand pointer.
set(qt_plugins platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qico.dll)
# GStreamer: cameras (ksvideosrc), the test cameras, conversion, JPEG and AVI.
set(gst_plugins coreelements app avi jpeg videoconvertscale videorate videotestsrc videofilter
  winks)

set(plugin_files)
foreach(p ${qt_plugins})
  get_filename_component(folder ${p} DIRECTORY)
  install(FILES ${qt_plugin_dir}/${p} DESTINATION plugins/${folder})
  list(APPEND plugin_files ${qt_plugin_dir}/${p})
endforeach()
foreach(p ${gst_plugins})
  install(FILES ${gst_plugin_dir}/libgst${p}.dll DESTINATION lib/gstreamer-1.0)
  list(APPEND plugin_files ${gst_plugin_dir}/libgst${p}.dll)
endforeach()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/qt.conf ${PROJECT_SOURCE_DIR}/resources/HAND-M.CUR
  DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION licenses RENAME Camwarden.LICENSE.txt)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/THIRD-PARTY.txt DESTINATION licenses)
install(DIRECTORY ${sdk_licenses}/ DESTINATION licenses)
install(FILES ${sdk_licenses}/../SOURCES.txt DESTINATION licenses)

# The DLLs the program and its plugins load, recursively, from the SDK.
install(CODE "
  set(deploy_from \"${runtime_dir}\")
  set(deploy_objdump \"${CMAKE_OBJDUMP}\")
  set(deploy_binaries \"$<TARGET_FILE:camwarden>;${plugin_files}\")
")
install(SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/windows/DeployDlls.cmake)

find_program(MAKENSIS makensis)
set(package_dir ${CMAKE_BINARY_DIR}/package)
set(stage ${package_dir}/Camwarden)
set(setup ${package_dir}/Camwarden-${PROJECT_VERSION}-setup.exe)
set(zip ${package_dir}/Camwarden-${PROJECT_VERSION}-portable.zip)
set(file_list ${package_dir}/installed-files.txt)
add_custom_target(windows_package
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${package_dir}
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${stage} --strip
  COMMAND ${CMAKE_COMMAND} -Dstage=${stage} -Dlist=${file_list}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/ListFiles.cmake
  COMMAND ${MAKENSIS} -V2 -DSTAGE=${stage} -DFILES=${file_list} -DOUTFILE=${setup}
          -DVERSION=${PROJECT_VERSION}
          -DICON=${CAMWARDEN_ICO} -DWIZARD=${CAMWARDEN_WIZARD_BMP}
          ${CMAKE_CURRENT_SOURCE_DIR}/windows/camwarden.nsi
  COMMAND ${CMAKE_COMMAND} -E chdir ${package_dir} ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip
          Camwarden
  DEPENDS camwarden windows_icon
  COMMENT "Making the setup program and the portable .zip in ${package_dir}"
  VERBATIM)
