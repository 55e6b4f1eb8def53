# The Windows side of the Linux/Wine transfer comparison (bench/wine/run.sh).
add_executable(load_bench ${KIT}/bench/wine/load_bench.cpp)
target_link_libraries(load_bench PRIVATE tovrane uart)
# The floor beside it: the same transfer through plain Win32 calls (the block
# format from the library's source, nothing else).
add_executable(floor_sender ${KIT}/bench/wine/floor_sender.cpp ${TOV_DIR}/src/block.cpp ${TOV_DIR}/src/crc16.cpp
  ${TOV_DIR}/src/reply_parse.cpp)
target_include_directories(floor_sender PRIVATE ${TOV_DIR}/src ${TOV_DIR}/include ${UART_DIR}/include)
