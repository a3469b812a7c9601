# The IP address edit control driven through QTest.
find_package(Qt6 REQUIRED COMPONENTS Test)
lumora_test(test_ipedit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ipedit_test.cpp
  LIBS manager_ipedit Qt6::Test)
