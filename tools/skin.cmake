# dayvault-skin: pack, unpack and list skin files.
add_library(dv_skinpack STATIC ${CMAKE_CURRENT_LIST_DIR}/skinpack/SkinPack.cpp)
target_include_directories(dv_skinpack PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(dv_skinpack PUBLIC dv_skin)

add_executable(dayvault-skin ${CMAKE_CURRENT_LIST_DIR}/dayvault-skin.cpp)
target_link_libraries(dayvault-skin PRIVATE dv_skinpack)

# Draws the shipped skins' pieces; run by hand, its output is committed under skins/.
add_executable(dayvault-skingen ${CMAKE_CURRENT_LIST_DIR}/skingen/skingen.cpp)
target_link_libraries(dayvault-skingen PRIVATE dayvault_options Qt6::Gui)
