# The Windows kit as one zip, tq318-kit-<version>-win64.zip (or -win32.zip):
#   bin/      uart.dll, tovrane.dll (stripped), tovctl.exe when it is built
#   lib/      their import libraries, uart.lib and tovrane.lib
#   include/  tovrane.h, uart.h
#   README-windows.txt
# Made by `cpack -G ZIP` in the Windows build folder (./run.sh package).
install(TARGETS uart tovrane
  RUNTIME DESTINATION bin COMPONENT kit
  ARCHIVE DESTINATION lib COMPONENT kit)
install(FILES ${TOV_DIR}/include/tovrane.h ${UART_DIR}/include/uart.h DESTINATION include COMPONENT kit)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/README-windows.txt DESTINATION . COMPONENT kit)

# tovctl.exe joins the kit wherever in this project its target is defined:
# the check runs once the whole folder has been read.
function(tq318_package_tovctl)
  if(TARGET tovctl)
    install(TARGETS tovctl RUNTIME DESTINATION bin COMPONENT kit)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL tq318_package_tovctl)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tq318-kit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME tq318-kit-${PROJECT_VERSION}-${TQ318_WIN_SET})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL kit)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
