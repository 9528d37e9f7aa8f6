# ecg_add_tests(<library> [QT_GUI|QT_WIDGETS] [LIBS ...])
# Every tests/*_test.cpp beside a library becomes one GoogleTest executable,
# linked to that library only (plus LIBS). QT_GUI/QT_WIDGETS give it a main()
# that creates the matching Qt application object on the offscreen platform.
# Nothing when BUILD_TESTING is OFF.
function(ecg_add_tests library)
  if(NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(ARG "QT_GUI;QT_WIDGETS" "" "LIBS" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp)
  file(GLOB test_helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_support.cpp)
  # The shared helpers of a folder's tests are compiled once, not per test.
  set(helpers_target "")
  if(test_helpers)
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    set(helpers_target "${folder}_test_helpers")
    add_library(${helpers_target} STATIC ${test_helpers})
    target_include_directories(${helpers_target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tests)
    target_link_libraries(${helpers_target} PUBLIC ${library} ${ARG_LIBS} GTest::gtest GTest::gmock PRIVATE ecg_warnings)
  endif()
  foreach(source ${test_sources})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${helpers_target} ${library} ${ARG_LIBS} ecg_warnings GTest::gtest GTest::gmock)
    if(ARG_QT_WIDGETS)
      target_link_libraries(${name} PRIVATE ecg_test_main_widgets)
    elseif(ARG_QT_GUI)
      target_link_libraries(${name} PRIVATE ecg_test_main_gui)
    else()
      target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    # One variable per property: gtest_discover_tests splits a list value
    # into separate arguments, so "A=1;B=2" would set A alone.
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 120
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" ENVIRONMENT_MODIFICATION
                 "ECG_SOURCE_DIR=set:${PROJECT_SOURCE_DIR}" TIMEOUT 300)
  endforeach()
endfunction()
