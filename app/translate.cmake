# The translation table's code: lookup, window translation and the user's language.
# Programs that use it include this file and add resources/translate.rc to their sources.
if(NOT TARGET nimbrel_translate)
  nimbrel_module(nimbrel_translate
    SOURCES ${PROJECT_SOURCE_DIR}/app/translate.cpp
    LIBS nimbrel_widgets nimbrel_base kernel32)
endif()
# The resource compiler's dependency scan misses files named by RCDATA lines. Source properties
# belong to the directory, so this runs in every directory that includes the file.
set_source_files_properties(${PROJECT_SOURCE_DIR}/resources/translate.rc PROPERTIES
  OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/resources/translate.txt)
