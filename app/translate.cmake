# The translation table's code: lookup, window translation and the user's language.
# Programs that use it add resources/translate.rc to their sources.
if(NOT TARGET nimbrel_translate)
  nimbrel_module(nimbrel_translate
    SOURCES ${PROJECT_SOURCE_DIR}/app/translate.cpp
    LIBS nimbrel_widgets nimbrel_base kernel32)
endif()
