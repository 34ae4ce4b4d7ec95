# The diary windows: saving an entry, opening the browser, and searching a million entries.
foreach(name diary_save diary_search)
  add_executable(bench_${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
  target_link_libraries(bench_${name} PRIVATE dv_app SQLite::SQLite3)
endforeach()
