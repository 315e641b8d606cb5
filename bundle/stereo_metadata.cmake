# cmake -DMONO=<zulvamoret-tarnwise.ttl> -DTEMPLATE=<stereo .ttl.in> -DOUTPUT=<stereo .ttl> -P stereo_metadata.cmake
# Writes the stereo companion's Turtle from its template and the mono-input
# plug-in's file: the definitions before the plug-in (prefixes, units,
# groups; comments left out) and the control ports 3..23, renumbered 4..24.
set(plugin_start "<http://zulvamoret.org/plugins/zulvamoret-tarnwise>\n    a lv2:Plugin")
file(READ "${MONO}" mono)
file(READ "${TEMPLATE}" template)

string(FIND "${mono}" "${plugin_start}" head_end)
if(head_end EQUAL -1)
  message(FATAL_ERROR "${MONO}: the plug-in's description was not found")
endif()
string(SUBSTRING "${mono}" 0 ${head_end} head)
string(REGEX REPLACE "(^|\n)#[^\n]*" "" head "${head}")

# The first control port's block begins at the "[" before its index and the
# last one ends the file's port list with "] .".
string(FIND "${mono}" "lv2:index 3 ;" first_index)
string(FIND "${mono}" "\n    ] ." ports_end REVERSE)
if(first_index EQUAL -1 OR ports_end LESS first_index)
  message(FATAL_ERROR "${MONO}: control ports 3..23 were not found")
endif()
string(SUBSTRING "${mono}" 0 ${first_index} before)
string(FIND "${before}" "[" block_start REVERSE)
math(EXPR length "${ports_end} + 6 - ${block_start}")
string(SUBSTRING "${mono}" ${block_start} ${length} controls)
foreach(index RANGE 23 3 -1)
  math(EXPR shifted "${index} + 1")
  string(REPLACE "lv2:index ${index} ;" "lv2:index ${shifted} ;" controls "${controls}")
endforeach()

# The companion's own comments: "@COMMENT symbol text" lines of the
# template, each replacing the comment of the control with that symbol.
# (Semicolons would split the list of lines: they stand in for a while.)
string(REPLACE ";" "@SEMICOLON@" lines "${template}")
string(REGEX MATCHALL "@COMMENT [^\n]*\n" overrides "${lines}")
string(REGEX REPLACE "@COMMENT [^\n]*\n" "" template "${template}")
foreach(line IN LISTS overrides)
  string(REGEX REPLACE "^@COMMENT ([a-z_]+) ([^\n]*)\n$" "\\1" symbol "${line}")
  string(REGEX REPLACE "^@COMMENT ([a-z_]+) ([^\n]*)\n$" "\\2" comment "${line}")
  string(REPLACE "@SEMICOLON@" ";" comment "${comment}")
  string(FIND "${controls}" "lv2:symbol \"${symbol}\" ;" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${TEMPLATE}: no control port with the symbol ${symbol}")
  endif()
  string(SUBSTRING "${controls}" ${at} -1 rest)
  string(FIND "${rest}" "rdfs:comment \"" start)
  math(EXPR start "${at} + ${start} + 14")
  string(SUBSTRING "${controls}" ${start} -1 rest)
  string(FIND "${rest}" "\" ;\n" end)
  math(EXPR end "${start} + ${end}")
  string(SUBSTRING "${controls}" 0 ${start} before)
  string(SUBSTRING "${controls}" ${end} -1 after)
  set(controls "${before}${comment}${after}")
endforeach()
if(controls MATCHES "kHz|other rates")
  message(FATAL_ERROR "${MONO}: a control's comment tells how it scales with the rate; "
    "give the companion its own with an @COMMENT line in ${TEMPLATE}")
endif()

string(REPLACE "@SHARED_DEFINITIONS@" "${head}" text "${template}")
string(REPLACE "@ENGINE_CONTROL_PORTS@" "${controls}" text "${text}")
file(WRITE "${OUTPUT}.part" "${text}")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
