# Makes the C++ source that holds the damage map page (report_page.html) with
# dygraphs' script and style written into it, so that the page needs nothing
# but itself. The page is split where its data goes: WriteReportPage() puts the
# data between the two halves.
#
#   cmake -DTEMPLATE=report_page.html -DDYGRAPHS_DIR=/usr/share/javascript/dygraphs
#         -DOUTPUT=report_page_text.cc -P embed_page.cmake
#
# A file whose text could end the element that holds it, or open a comment
# there, stops the build: it would break the page.

foreach(var TEMPLATE DYGRAPHS_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "embed_page.cmake: ${var} is not set")
  endif()
endforeach()

# Reads a file without its source-map comment, which would point the browser
# at a file that is not there, and checks that it can stand inside <tag>.
function(read_inlined path tag out)
  file(READ "${path}" text)
  string(REGEX REPLACE "//# sourceMappingURL=[^\n]*" "" text "${text}")
  string(REGEX REPLACE "/\\*# sourceMappingURL=[^*]*\\*/" "" text "${text}")
  string(TOLOWER "${text}" lower)
  foreach(bad "</${tag}" "<!--")
    string(FIND "${lower}" "${bad}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${path} holds \"${bad}\": it cannot be put into the page")
    endif()
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(READ "${TEMPLATE}" page)
read_inlined("${DYGRAPHS_DIR}/dygraph.min.js" script dygraph_js)
read_inlined("${DYGRAPHS_DIR}/dygraph.min.css" style dygraph_css)
read_inlined("${DYGRAPHS_DIR}/extras/synchronizer.js" script synchronizer_js)

foreach(part dygraph-js dygraph-css synchronizer-js)
  string(FIND "${page}" "/*@kx-${part}@*/" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${TEMPLATE} has no place for ${part}")
  endif()
endforeach()
string(REPLACE "/*@kx-dygraph-css@*/" "${dygraph_css}" page "${page}")
string(REPLACE "/*@kx-dygraph-js@*/" "${dygraph_js}" page "${page}")
string(REPLACE "/*@kx-synchronizer-js@*/" "${synchronizer_js}" page "${page}")

string(FIND "${page}" "@kx-data@" data_at)
if(data_at EQUAL -1)
  message(FATAL_ERROR "${TEMPLATE} has no place for the data")
endif()
string(SUBSTRING "${page}" 0 ${data_at} head)
math(EXPR tail_at "${data_at} + 9")
string(SUBSTRING "${page}" ${tail_at} -1 tail)

# C++ raw string literals of at most about 16,000 bytes each (compilers need
# only take 65,536), split after a ';', ',' or line end: ASCII bytes, never
# inside a UTF-8 character.
set(delimiter "kxpage")
function(literals text out)
  string(FIND "${text}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "the page holds the literal's delimiter ${delimiter}")
  endif()
  set(result "")
  string(LENGTH "${text}" left)
  while(left GREATER 0)
    set(take ${left})
    if(left GREATER 16000)
      string(SUBSTRING "${text}" 16000 4000 window)
      string(REGEX MATCH "^[^;,\n]*[;,\n]" lead "${window}")
      string(LENGTH "${lead}" lead_length)
      if(lead_length EQUAL 0)
        message(FATAL_ERROR "no place to split the page near byte 16000")
      endif()
      math(EXPR take "16000 + ${lead_length}")
    endif()
    string(SUBSTRING "${text}" 0 ${take} piece)
    string(APPEND result "    R\"${delimiter}(${piece})${delimiter}\",\n")
    string(SUBSTRING "${text}" ${take} -1 text)
    math(EXPR left "${left} - ${take}")
  endwhile()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

literals("${head}" head_literals)
literals("${tail}" tail_literals)
file(WRITE "${OUTPUT}.new"
"// Made by tools/kxtable/embed_page.cmake from tools/kxtable/report_page.html
// and dygraphs (MIT licence) as Debian's libjs-dygraphs installs it.
#include <string_view>

namespace kxtable::report_page_text {

extern const std::string_view kHead[];
extern const size_t kHeadParts;
extern const std::string_view kTail[];
extern const size_t kTailParts;

const std::string_view kHead[] = {
${head_literals}};
const size_t kHeadParts = sizeof kHead / sizeof kHead[0];

const std::string_view kTail[] = {
${tail_literals}};
const size_t kTailParts = sizeof kTail / sizeof kTail[0];

}  // namespace kxtable::report_page_text
")
# Only a changed source is compiled again.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
