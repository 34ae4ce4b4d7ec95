# Renders the program's windows into PNG files (run under Xvfb by `make screenshots`).
add_executable(dayvault-screenshots ${CMAKE_CURRENT_LIST_DIR}/screenshots/screenshots.cpp)
target_link_libraries(dayvault-screenshots PRIVATE dv_app)
add_dependencies(dayvault-screenshots skins)
