# Writes a C++ source that holds the SQL files as string constants, in the
# order given. Called at build time:
#   cmake -DOUTPUT=<file.cpp> -DFILES=<a.sql;b.sql> -P EmbedSql.cmake
set(body "")
set(count 0)
foreach(path IN LISTS FILES)
    file(READ "${path}" text)
    get_filename_component(name "${path}" NAME)
    string(FIND "${text}" ")orixsql\"" clash)
    if(NOT clash EQUAL -1)
        message(FATAL_ERROR "${path} contains the raw string delimiter")
    endif()
    string(APPEND body "    {\"${name}\", R\"orixsql(${text})orixsql\"},\n")
    math(EXPR count "${count} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp"
"// Generated from the SQL files of the development server; do not edit.
#include \"EmbeddedSql.h\"

const EmbeddedSqlFile kEmbeddedSqlFiles[] = {
${body}};
const int kEmbeddedSqlFileCount = ${count};
")
execute_process(COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")
