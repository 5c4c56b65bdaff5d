# vestra_add_test(NAME <name> LABEL <unit|system|gui> SOURCES <files...>
#                 [LIBS <targets...>] [WRAPPER <command...>])
# One GoogleTest executable registered as one CTest test carrying its label.
function(vestra_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS;WRAPPER" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  add_test(NAME ${T_NAME} COMMAND ${T_WRAPPER} $<TARGET_FILE:${T_NAME}>)
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABEL}" TIMEOUT 600)
endfunction()
