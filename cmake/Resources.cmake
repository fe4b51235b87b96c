# The embedded data: the three protection lists and the translation table.
# nimbrel_embed(target LISTS|TRANSLATION ...) adds the resource scripts to a program. The
# resource compiler's dependency scan misses files named by RCDATA lines, so the text files are
# named as dependencies here, in the target's own directory.
set(NIMBREL_LISTS_RC ${PROJECT_SOURCE_DIR}/resources/lists.rc)
set(NIMBREL_LISTS_TEXT
  ${PROJECT_SOURCE_DIR}/resources/file_white.txt
  ${PROJECT_SOURCE_DIR}/resources/name_white.txt
  ${PROJECT_SOURCE_DIR}/resources/name_black.txt)
set(NIMBREL_TRANSLATION_RC ${PROJECT_SOURCE_DIR}/resources/translate.rc)
set(NIMBREL_TRANSLATION_TEXT ${PROJECT_SOURCE_DIR}/resources/translate.txt)

function(nimbrel_embed target)
  foreach(part IN LISTS ARGN)
    if(part STREQUAL "LISTS")
      target_sources(${target} PRIVATE ${NIMBREL_LISTS_RC})
      set_source_files_properties(${NIMBREL_LISTS_RC} TARGET_DIRECTORY ${target}
        PROPERTIES OBJECT_DEPENDS "${NIMBREL_LISTS_TEXT}")
    elseif(part STREQUAL "TRANSLATION")
      target_sources(${target} PRIVATE ${NIMBREL_TRANSLATION_RC})
      set_source_files_properties(${NIMBREL_TRANSLATION_RC} TARGET_DIRECTORY ${target}
        PROPERTIES OBJECT_DEPENDS "${NIMBREL_TRANSLATION_TEXT}")
    else()
      message(FATAL_ERROR "nimbrel_embed: unknown part ${part}")
    endif()
  endforeach()
endfunction()
