# SQLite beside a PostgreSQL server of the bench's own (by its socket and over TLS on TCP).
add_executable(engines_bench ${CMAKE_CURRENT_LIST_DIR}/engines_bench.cpp)
set_target_properties(engines_bench PROPERTIES OUTPUT_NAME bench_engines)
target_link_libraries(engines_bench PRIVATE dv_passwords dv_data PkgConfig::SODIUM)
target_compile_definitions(engines_bench PRIVATE DV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                                 DV_ADMIN="$<TARGET_FILE:dayvault-admin>")
add_dependencies(engines_bench dayvault-admin)
