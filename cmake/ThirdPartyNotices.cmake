# Writes the third-party notices of a release: the hand-written head
# (THIRD-PARTY-NOTICES), then for each statically linked runtime the
# libraries the linker takes for it and the Debian package that installed
# them, then those packages' copyright files as they are. Nothing of the
# licence texts is pasted by hand, so they follow the toolchain.
#
#   cmake -DCOMPILER=<c++ compiler> -DHEAD=<file> -DOUTPUT=<file> [-DDEPFILE=<file>] -P ThirdPartyNotices.cmake
#
# DEPFILE: where to name the libraries and licence files read, for the build
# to write the notices again when a package update changes them.
#
# Fails when a library or its package or copyright file cannot be found: a
# release must not ship with notices that leave a runtime out.

cmake_minimum_required(VERSION 3.20)

# name | libraries the linker takes for it | a text its copyright file must
# hold | the licence in /usr/share/common-licenses that the copyright file
# names instead of quoting it, if any
set(runtimes
  "mingw-w64 runtime|crt2.o,libmingw32.a,libmingwex.a,libmsvcrt.a|mingw-w64|"
  "winpthreads|libwinpthread.a|winpthreads|"
  "libstdc++ (the GCC C++ library)|libstdc++.a|GCC RUNTIME LIBRARY EXCEPTION|GPL-3"
  "libgcc (the GCC low-level runtime)|libgcc.a,libgcc_eh.a|GCC RUNTIME LIBRARY EXCEPTION|GPL-3")

foreach(arg COMPILER HEAD OUTPUT)
  if(NOT ${arg})
    message(FATAL_ERROR "ThirdPartyNotices.cmake: -D${arg}=... is missing")
  endif()
endforeach()

# The package that installed path, as dpkg knows it ("pkg" or "pkg:arch").
function(owning_package path var)
  execute_process(COMMAND dpkg-query -S "${path}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "third-party notices: no Debian package owns ${path}: ${err}")
  endif()
  # "diversion by ..." lines come first when a file is diverted; the owner is
  # on the line of the form "package[, package]: path".
  string(REPLACE "\n" ";" lines "${out}")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^diversion" AND line MATCHES "^([^ ,:]+(:[a-z0-9]+)?)(, [^:]+)?: (.+)$")
      set(${var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "third-party notices: cannot read the owner of ${path} from: ${out}")
endfunction()

# The number of the licence text at path among those copied so far; the
# text is copied (with a heading that says where it comes from) the first
# time. Packages of one source share one copyright file, so each is copied once.
function(text_number path origin expected var)
  list(FIND texts "${path}" index)
  if(index EQUAL -1)
    file(READ "${path}" text)
    if(NOT text MATCHES "${expected}")
      message(FATAL_ERROR "third-party notices: ${path} does not hold \"${expected}\"")
    endif()
    list(LENGTH texts index)
    math(EXPR number "${index} + 1")
    set(texts ${texts} "${path}" PARENT_SCOPE)
    string(APPEND texts_section "\n\n"
      "========================================================================\n"
      "Text ${number}: ${path}\n(${origin})\n"
      "========================================================================\n\n" "${text}")
    set(texts_section "${texts_section}" PARENT_SCOPE)
  endif()
  math(EXPR number "${index} + 1")
  set(${var} ${number} PARENT_SCOPE)
endfunction()

function(package_version package var)
  execute_process(COMMAND dpkg-query -W -f=\${Version} ${package} OUTPUT_VARIABLE version)
  set(${var} "${version}" PARENT_SCOPE)
endfunction()

file(READ "${HEAD}" notices)
string(APPEND notices "\nRuntimes linked into the binaries\n---------------------------------\n")
set(texts "")  # the licence texts copied, in order of first use
set(read "")   # every file the notices depend on
set(texts_section "")
foreach(entry IN LISTS runtimes)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 runtime)
  list(GET fields 1 libraries)
  list(GET fields 2 expected)
  list(GET fields 3 common)
  string(REPLACE "," ";" libraries "${libraries}")
  set(paths "")
  set(packages "")
  foreach(library IN LISTS libraries)
    execute_process(COMMAND "${COMPILER}" -print-file-name=${library}
      RESULT_VARIABLE rc OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    # A library the compiler does not find comes back as its bare name.
    if(NOT rc EQUAL 0 OR NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      message(FATAL_ERROR "third-party notices: ${COMPILER} does not find ${library}")
    endif()
    file(REAL_PATH "${path}" path)
    owning_package("${path}" package)
    list(APPEND paths "${path}")
    list(APPEND read "${path}")
    if(NOT package IN_LIST packages)
      list(APPEND packages ${package})
    endif()
  endforeach()

  set(licences "")
  foreach(package IN LISTS packages)
    string(REGEX REPLACE ":.*" "" doc_name "${package}")
    if(NOT EXISTS "/usr/share/doc/${doc_name}/copyright")
      message(FATAL_ERROR "third-party notices: ${package} has no /usr/share/doc/${doc_name}/copyright")
    endif()
    file(REAL_PATH "/usr/share/doc/${doc_name}/copyright" copyright)
    package_version(${package} version)
    text_number("${copyright}" "the copyright file of the Debian package ${doc_name} ${version}" "${expected}" n)
    list(APPEND licences "text ${n} below (Debian package ${package} ${version})")
  endforeach()
  if(common)
    set(path "/usr/share/common-licenses/${common}")
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "third-party notices: ${path} is missing (${runtime})")
    endif()
    owning_package("${path}" package)
    package_version(${package} version)
    text_number("${path}" "the licence that the copyright file names, from the Debian package ${package} ${version}"
      "" n)
    list(APPEND licences "the ${common} text it names: text ${n} below")
  endif()

  string(REPLACE ";" ", " paths "${paths}")
  string(REPLACE ";" "; " licences "${licences}")
  string(APPEND notices "\n${runtime}\n  linked from: ${paths}\n  licence: ${licences}\n")
endforeach()

string(APPEND notices "${texts_section}")
# Read on Windows: CR LF line ends, whatever the copyright files use.
string(REPLACE "\r\n" "\n" notices "${notices}")
string(REPLACE "\n" "\r\n" notices "${notices}")
file(WRITE "${OUTPUT}.tmp" "${notices}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
if(DEPFILE)
  list(APPEND read ${texts})
  string(REPLACE " " "\\ " read "${read}")
  string(REPLACE ";" " \\\n  " read "${read}")
  file(WRITE "${DEPFILE}" "${OUTPUT}: \\\n  ${read}\n")
endif()
