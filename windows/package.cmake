# The Windows kit as one zip, tq318-kit-<version>-win64.zip (or -win32.zip):
#   bin/      uart.dll, tovrane.dll (stripped); in the win64 set also
#             tq318-make-package.exe, tovctl.exe and Pelorim.exe
#   lib/      their import libraries, uart.lib and tovrane.lib, and uart.def, tovrane.def
#   include/  tovrane.h, uart.h
#   samples/  tq318.hex and os.img, for a first try against the simulator
#   README-windows.txt
# Made by `cpack -G ZIP` in the Windows build folder (./run.sh package).
install(TARGETS uart tovrane
  RUNTIME DESTINATION bin COMPONENT kit
  ARCHIVE DESTINATION lib COMPONENT kit)
install(FILES ${TOV_DIR}/include/tovrane.h ${UART_DIR}/include/uart.h DESTINATION include COMPONENT kit)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/README-windows.txt DESTINATION . COMPONENT kit)
# The module-definition files the headers name, for linkers that make their
# own import library (lib /def:uart.def).
install(FILES ${UART_DIR}/uart.def ${TOV_DIR}/tovrane.def DESTINATION lib COMPONENT kit)

# samples/: a firmware package (made by the Linux build's tq318-make-package)
# and an operating-system image for a first try against the simulator. Their
# contents are placeholder text, no program: never for a controller in service.
set(TQ318_HOST_BIN "${KIT}/build/bin" CACHE PATH "Linux build's bin folder (tq318-sim, tq318-make-package)")
set(SAMPLES ${CMAKE_BINARY_DIR}/samples)
file(MAKE_DIRECTORY ${SAMPLES}/members)
file(WRITE ${SAMPLES}/members/tq318.exe "TQ-318 kit sample: placeholder text, not a program. For tq318-sim only.\r\n")
file(WRITE ${SAMPLES}/members/web.bin "TQ-318 kit sample: placeholder web page. For tq318-sim only.\r\n")
file(WRITE ${SAMPLES}/os.img "TQ-318 kit sample: placeholder text, not an operating system. For tq318-sim only.\r\n")
add_custom_command(OUTPUT ${SAMPLES}/tq318.hex
  COMMAND ${TQ318_HOST_BIN}/tq318-make-package ${SAMPLES}/members ${SAMPLES}/tq318.hex
  DEPENDS ${SAMPLES}/members/tq318.exe ${SAMPLES}/members/web.bin VERBATIM)
add_custom_target(samples ALL DEPENDS ${SAMPLES}/tq318.hex)
install(FILES ${SAMPLES}/tq318.hex ${SAMPLES}/os.img DESTINATION samples COMPONENT kit)

# tovctl.exe and Pelorim.exe join the kit wherever in this project their
# targets are defined: the check runs once the whole folder has been read.
function(tq318_package_tovctl)
  if(TARGET tovctl)
    install(TARGETS tovctl RUNTIME DESTINATION bin COMPONENT kit)
  endif()
  if(TARGET Pelorim)
    install(TARGETS Pelorim RUNTIME DESTINATION bin COMPONENT kit)
  endif()
  if(TARGET tq318-make-package)
    install(TARGETS tq318-make-package RUNTIME DESTINATION bin COMPONENT kit)
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
