# Fails when any of the project's C++ sources differs from what clang-format makes of it.
file(GLOB_RECURSE sources
    ${SOURCE_DIR}/app/*.cpp ${SOURCE_DIR}/app/*.h
    ${SOURCE_DIR}/keyer/*.cpp ${SOURCE_DIR}/keyer/*.h
    ${SOURCE_DIR}/net/*.cpp ${SOURCE_DIR}/net/*.h
    ${SOURCE_DIR}/settings/*.cpp ${SOURCE_DIR}/settings/*.h
    ${SOURCE_DIR}/messages/*.cpp ${SOURCE_DIR}/messages/*.h
    ${SOURCE_DIR}/station/*.cpp ${SOURCE_DIR}/station/*.h
    ${SOURCE_DIR}/forms/*.cpp ${SOURCE_DIR}/forms/*.h
    ${SOURCE_DIR}/site/*.cpp ${SOURCE_DIR}/site/*.h
    ${SOURCE_DIR}/tools/*.cpp ${SOURCE_DIR}/tools/*.h
    ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${sources}
    RESULT_VARIABLE result ERROR_VARIABLE messages)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "clang-format would change these files:\n${messages}")
endif()
