# pelorim_shared: the part of the wizard that knows no toolkit, used by the Qt
# wizard (wizard/src) and by Pelorim.exe (wizard/win32): the by-name binding
# of the serial and console libraries (its loading per platform:
# binding_posix.cpp, binding_win32.cpp), the bindings as the repair engine's
# console, and the wizard's run-time errors. Needs tq318_repair and
# tq318_sources (cmake/platform_sources.cmake).
tq318_sources(PELORIM_SHARED_SOURCES ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_library(pelorim_shared STATIC ${PELORIM_SHARED_SOURCES})
target_include_directories(pelorim_shared PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(pelorim_shared PUBLIC tq318_repair ${CMAKE_DL_LIBS})
