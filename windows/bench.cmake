# The Windows side of the Linux/Wine transfer comparison (bench/wine/run.sh).
add_executable(load_bench ${KIT}/bench/wine/load_bench.cpp)
target_link_libraries(load_bench PRIVATE tovrane uart)
