# Only this layer knows every form.
add_library(dv_app STATIC ${CMAKE_CURRENT_LIST_DIR}/FormRegistry.cpp)
target_link_libraries(dv_app PUBLIC dv_shell dv_accounts dv_diary)

add_executable(dayvault ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(dayvault PRIVATE dv_app)
set_target_properties(dayvault PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${DAYVAULT_APP_DIR})

# Stage the rest of the application folder next to the executable.
add_custom_command(TARGET dayvault POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${DAYVAULT_APP_DIR}/data
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/docs/manual.html
          ${DAYVAULT_APP_DIR}/manual.html)
