# The layering of the sources, checked by reading their #include lines:
#   - the core (arith/ outside the engine and subsystem folders) has headers
#     that include no engine or subsystem header; its sources may call an
#     engine or a subsystem through its one header;
#   - an engine (arith/wavefront/, arith/splitting/) includes the core,
#     itself and a subsystem's one header, never app/ or another engine;
#   - a subsystem (arith/ntt/) includes the core and itself only;
#   - app/ includes the core's headers and its own, nothing from an engine
#     or a subsystem.
# Run as: cmake -DSOURCE_DIR=<repository> -P include_rules.cmake
cmake_minimum_required(VERSION 3.20)
set(engines wavefront splitting)
set(subsystems ntt)
set(engine_headers_of_wavefront wavefront.hpp)
set(engine_headers_of_splitting splitting.hpp)
set(engine_headers_of_ntt ntt_multiply.hpp)
set(violations "")

file(GLOB app_headers RELATIVE ${SOURCE_DIR}/app ${SOURCE_DIR}/app/*.hpp)

function(included_names file out)
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The engine or subsystem folder a name reaches, if any.
function(engine_of name out)
  set(found "")
  foreach(engine IN LISTS engines subsystems)
    if(name MATCHES "^${engine}/")
      set(found ${engine})
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# The core.
file(GLOB core_files ${SOURCE_DIR}/arith/*.hpp ${SOURCE_DIR}/arith/*.cpp
     ${SOURCE_DIR}/arith/posix/*.cpp ${SOURCE_DIR}/arith/windows/*.cpp)
foreach(file IN LISTS core_files)
  included_names(${file} names)
  foreach(name IN LISTS names)
    engine_of("${name}" engine)
    if(engine AND file MATCHES "\\.hpp$")
      list(APPEND violations "${file}: a core header includes ${name}")
    elseif(engine)
      string(REGEX REPLACE "^${engine}/" "" header "${name}")
      if(NOT header IN_LIST engine_headers_of_${engine})
        list(APPEND violations "${file}: the core reaches into ${name}, past the engine's header")
      endif()
    endif()
    if(name IN_LIST app_headers AND NOT EXISTS ${SOURCE_DIR}/arith/${name})
      list(APPEND violations "${file}: the core includes app/${name}")
    endif()
  endforeach()
endforeach()

# The engines and subsystems.
foreach(engine IN LISTS engines subsystems)
  file(GLOB_RECURSE engine_files ${SOURCE_DIR}/arith/${engine}/*.hpp ${SOURCE_DIR}/arith/${engine}/*.cpp)
  foreach(file IN LISTS engine_files)
    included_names(${file} names)
    foreach(name IN LISTS names)
      engine_of("${name}" other)
      if(other AND NOT other STREQUAL engine)
        string(REGEX REPLACE "^${other}/" "" header "${name}")
        if(engine IN_LIST subsystems OR other IN_LIST engines OR NOT header IN_LIST engine_headers_of_${other})
          list(APPEND violations "${file}: ${engine} includes ${name}")
        endif()
      endif()
      if(name IN_LIST app_headers AND NOT EXISTS ${SOURCE_DIR}/arith/${name})
        list(APPEND violations "${file}: the ${engine} engine includes app/${name}")
      endif()
    endforeach()
  endforeach()
endforeach()

# The front end.
file(GLOB_RECURSE app_files ${SOURCE_DIR}/app/*.hpp ${SOURCE_DIR}/app/*.cpp)
foreach(file IN LISTS app_files)
  included_names(${file} names)
  foreach(name IN LISTS names)
    engine_of("${name}" engine)
    if(engine)
      list(APPEND violations "${file}: app/ includes ${name}")
    endif()
  endforeach()
endforeach()

list(LENGTH core_files core_count)
list(LENGTH app_files app_count)
if(core_count EQUAL 0 OR app_count EQUAL 0)
  message(FATAL_ERROR "no sources found below ${SOURCE_DIR}")
endif()
if(violations)
  list(JOIN violations "\n" text)
  message(FATAL_ERROR "includes that cross the layers:\n${text}")
endif()
message(STATUS "${core_count} core and ${app_count} app files keep to their layers")
