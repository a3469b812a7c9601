# The IP address edit control, a library of its own so that the windows and its tests share it.
add_library(manager_ipedit STATIC ${CMAKE_CURRENT_LIST_DIR}/IPEdit.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/IPEdit.h)
set_target_properties(manager_ipedit PROPERTIES AUTOMOC ON)
target_link_libraries(manager_ipedit PUBLIC common_qt Qt6::Widgets)
