# The translation table's code: lookup, window translation and the user's language.
# Programs that use it include this file and embed the table with nimbrel_embed(... TRANSLATION).
if(NOT TARGET nimbrel_translate)
  nimbrel_module(nimbrel_translate
    SOURCES ${PROJECT_SOURCE_DIR}/app/translate.cpp
    LIBS nimbrel_widgets nimbrel_base kernel32)
endif()
