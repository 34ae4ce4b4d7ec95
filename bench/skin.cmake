add_executable(bench_skin ${CMAKE_CURRENT_LIST_DIR}/skin_bench.cpp)
target_link_libraries(bench_skin PRIVATE dv_skin)
target_compile_definitions(bench_skin PRIVATE DV_DEFAULT_SKIN="${DAYVAULT_APP_DIR}/16.jss")
add_dependencies(bench_skin skins)
