add_executable(dayvault-admin ${CMAKE_CURRENT_LIST_DIR}/dayvault-admin.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/admin/AdminIo.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/admin/Migrate.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/admin/Restore.cpp)
target_include_directories(dayvault-admin PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(dayvault-admin PRIVATE dv_data dv_passwords SQLite::SQLite3)
set_target_properties(dayvault-admin PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${DAYVAULT_APP_DIR})
