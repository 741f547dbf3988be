# Writes the RPM %changelog from the project's Debian changelog, so that the
# two packages tell one history:
#   norva-audit (V) unstable; urgency=medium      * Thu Dec 10 2026 W <m> - V-1
#     * Text                                  ->  - Text
#       more text                                   more text
#    -- W <m>  Thu, 10 Dec 2026 12:00:00 +0000
function(norva_rpm_changelog debian_changelog release output)
  file(STRINGS "${debian_changelog}" lines)
  set(result "")
  set(entry "")
  set(version "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[a-z0-9.+-]+ \\(([^)]+)\\)")
      set(version "${CMAKE_MATCH_1}")
      set(entry "")
    elseif(line MATCHES "^  \\* (.*)$")
      string(APPEND entry "- ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^    (.*)$")
      string(APPEND entry "  ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^ -- (.+>)  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ")
      set(day "${CMAKE_MATCH_2}")
      string(LENGTH "${day}" length)
      if(length EQUAL 1)
        set(day "0${day}")
      endif()
      # rpm checks the weekday, so it is worked out from the date itself.
      set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
      list(FIND months "${CMAKE_MATCH_3}" month)
      math(EXPR month "${month} + 1")
      execute_process(COMMAND date -u -d "${CMAKE_MATCH_4}-${month}-${day}" +%a
        OUTPUT_VARIABLE weekday OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
      string(APPEND result "* ${weekday} ${CMAKE_MATCH_3} ${day} ${CMAKE_MATCH_4} ${CMAKE_MATCH_1} - ${version}-${release}\n${entry}\n")
    endif()
  endforeach()
  if(result STREQUAL "")
    message(FATAL_ERROR "${debian_changelog} holds no entry")
  endif()
  file(WRITE "${output}" "${result}")
endfunction()
