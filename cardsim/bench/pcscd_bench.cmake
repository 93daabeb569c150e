# pcscd_bench: one SELECT round trip through a private pcscd with the vpcd
# driver and the virtual card (needs root: the daemon gets a mount namespace).
add_executable(pcscd_bench ${CMAKE_CURRENT_LIST_DIR}/pcscd_bench.cpp)
target_link_libraries(pcscd_bench PRIVATE orvel_pcscd_rig benchmark::benchmark_main)
