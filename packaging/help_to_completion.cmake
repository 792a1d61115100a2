# Writes the bash completion of TOOL (named NAME) to OUTPUT from the tool's own help texts: the commands and
# operations that "NAME help --topics" lists, each topic's options as its usage lines show them ("--json",
# "-0", "/v"), whether it takes file names (FILE, IN, OUT, XSD), and the registry roots for reg's key paths.
# A help that fails or prints nothing fails the script, and so the build, as for the manual page.
cmake_policy(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/tool_help.cmake)

run_help(overview --help)
run_help(topic_list help --topics)
string(REPLACE "\n" ";" topics "${topic_list}")
list(FILTER topics EXCLUDE REGEX "^$")

set(commands "")
set(operation_cases "")
set(option_cases "")
set(file_topics "")
foreach(topic IN LISTS topics)
  string(REPLACE " " ";" words "${topic}")
  list(LENGTH words depth)
  list(GET words 0 command)
  if(depth EQUAL 1)
    list(APPEND commands ${command})
  else()
    list(GET words 1 operation)
    string(APPEND operations_of_${command} " ${operation}")
  endif()
  run_help(text help ${words})
  # The usage block: from the start to the first empty line; of it, the lines of this topic.
  string(FIND "${text}" "\n\n" end)
  string(SUBSTRING "${text}" 0 ${end} usage)
  string(REPLACE "\n" ";" usage_lines "${usage}")
  set(options "")
  set(takes_files OFF)
  foreach(line IN LISTS usage_lines)
    if(NOT line MATCHES "btutil ${topic}( |$)")
      continue()
    endif()
    # Brackets out first: a CMake list does not split inside them.
    string(REGEX REPLACE "[][|]" " " line "${line}")
    string(REGEX MATCHALL " (--?[a-zA-Z0-9][a-zA-Z0-9-]*|/[a-z]+)" found "${line}")
    foreach(option IN LISTS found)
      string(STRIP "${option}" option)
      list(APPEND options ${option})
    endforeach()
    if(line MATCHES " (FILE|IN|OUT|XSD)( |\\.|$)")
      set(takes_files ON)
    endif()
  endforeach()
  list(REMOVE_DUPLICATES options)
  if(options)
    string(REPLACE ";" " " options "${options}")
    string(APPEND option_cases "    '${topic}') echo '${options}' ;;\n")
  endif()
  if(takes_files)
    list(APPEND file_topics "'${topic}'")
  endif()
endforeach()
foreach(command IN LISTS commands)
  if(DEFINED operations_of_${command})
    string(STRIP "${operations_of_${command}}" operations)
    string(APPEND operation_cases "    ${command}) echo '${operations}' ;;\n")
  endif()
endforeach()
string(REPLACE ";" " " commands "${commands}")
string(REPLACE ";" "|" file_topics "${file_topics}")
if(file_topics STREQUAL "")
  set(file_topics "''")
endif()

file(WRITE ${OUTPUT} "# bash completion for ${NAME}: commands, operations, options, registry roots.
# Generated from ${NAME}'s own help texts; bash-completion loads it on first use.

_${NAME}_commands='${commands} help'

# The operations of a command, or nothing.
_${NAME}_operations() {
  case \$1 in
${operation_cases}  esac
}

# The options of a topic (\"reg query\", \"radio\"), as its usage shows them.
_${NAME}_options() {
  case \$1 in
${option_cases}  esac
}

# Whether a topic takes file names.
_${NAME}_takes_files() {
  case \$1 in
    ${file_topics}) return 0 ;;
  esac
  return 1
}
")
file(APPEND ${OUTPUT} [=[
# The roots of a registry key path, opened with a quote (the user's, or ') so
# that the shell keeps the backslashes typed after them.
_btutil_roots() {
  local cur=$1 quote="'" typed root
  case $cur in
    \'* | \"*) quote=${cur:0:1} ;;
  esac
  typed=${cur#[\'\"]}
  for root in 'HKLM\' 'HKCU\' 'HKEY_LOCAL_MACHINE\' 'HKEY_CURRENT_USER\'; do
    [[ ${root,,} == "${typed,,}"* ]] && COMPREPLY+=("$quote$root")
  done
  compopt -o nospace 2>/dev/null
}

_btutil() {
  local cur=${COMP_WORDS[COMP_CWORD]} i=1 word
  COMPREPLY=()
  # The options before the command; --trace takes a value (also --trace=VALUE).
  while ((i < COMP_CWORD)); do
    word=${COMP_WORDS[i]}
    case $word in
      --trace)
        ((i += 2))
        [[ ${COMP_WORDS[i - 1]} == = ]] && ((i++))
        continue
        ;;
      --trace=* | --version | --help | -h)
        ((i++))
        continue
        ;;
    esac
    break
  done
  if ((i >= COMP_CWORD)); then
    COMPREPLY=($(compgen -W "$_btutil_commands --trace --version --help" -- "$cur"))
    return
  fi
  local command=${COMP_WORDS[i],,} operations topic options
  if [[ $command == help ]]; then
    if ((COMP_CWORD == i + 1)); then
      COMPREPLY=($(compgen -W "$_btutil_commands --topics" -- "$cur"))
    elif ((COMP_CWORD == i + 2)); then
      COMPREPLY=($(compgen -W "$(_btutil_operations "${COMP_WORDS[i + 1],,}")" -- "$cur"))
    fi
    return
  fi
  operations=$(_btutil_operations "$command")
  topic=$command
  if [[ -n $operations ]]; then
    if ((COMP_CWORD == i + 1)); then
      COMPREPLY=($(compgen -W "$operations help --help" -- "$cur"))
      return
    fi
    topic="$command ${COMP_WORDS[i + 1],,}"
    ((i++))
  fi
  options="$(_btutil_options "$topic") --help"
  case $cur in
    -*)
      COMPREPLY=($(compgen -W "$options" -- "$cur"))
      return
      ;;
    /*)
      COMPREPLY=($(compgen -W "$options" -- "$cur"))
      ;;
  esac
  # A reg operation's key path comes first: the roots until one is typed.
  if [[ $command == reg && $topic != "reg import" ]]; then
    local j has_key=
    for ((j = i + 1; j < COMP_CWORD; j++)); do
      [[ ${COMP_WORDS[j]#[\'\"]} == [Hh][Kk]* ]] && has_key=1
    done
    if [[ -z $has_key && $cur != /* ]]; then
      _btutil_roots "$cur"
      return
    fi
  fi
  if _btutil_takes_files "$topic"; then
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -f -- "$cur"))
  fi
}
complete -F _btutil btutil
]=])
