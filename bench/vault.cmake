# Sealed entries: login check, saving, title search, raw bytes.
add_executable(bench_vault ${CMAKE_CURRENT_LIST_DIR}/vault_bench.cpp)
target_link_libraries(bench_vault PRIVATE dv_passwords dv_data SQLite::SQLite3 PkgConfig::SODIUM)
