add_executable(bench_caption ${CMAKE_CURRENT_LIST_DIR}/caption_bench.cpp)
target_link_libraries(bench_caption PRIVATE dv_caption dv_skin)
target_compile_definitions(bench_caption PRIVATE DV_DEFAULT_SKIN="${DAYVAULT_APP_DIR}/16.jss")
add_dependencies(bench_caption skins)
