include(CMakePackageConfigHelpers)

install(TARGETS zarnsdk64_mt EXPORT ZarnSdkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/ZarnProxy.h include/zarnsdk.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The stand-in Steam client is installed beside the SDK so that a game can be tried locally;
# a shipping game puts Valve's steam_api64 there instead.
install(TARGETS steam_api64
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(EXPORT ZarnSdkTargets NAMESPACE ZarnSdk:: FILE ZarnSdkTargets.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZarnSdk)
configure_package_config_file(cmake/ZarnSdkConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/ZarnSdkConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZarnSdk)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ZarnSdkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ZarnSdkConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/ZarnSdkConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZarnSdk)
