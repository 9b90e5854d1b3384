# The rules a value given at configure must pass for the application to take it, so that a build
# the updater would silently ignore (an http feed, a mistyped key) stops at configure instead.
# Each function sets `out` to the reason in words, or to "" when the value is taken.
#
# Run as a script it judges one value, for the test that holds these rules to the application's:
#   cmake -DCHECK=feed|key|version|build -DVALUE=text -P BuildValues.cmake
# ends with status 0 when the value is taken, else says why and ends with status 1.

# Whether `text` is an IPv6 address as it stands between brackets in an address: eight groups of
# one to four hexadecimal digits, or fewer with one "::", the last two of them may be an IPv4
# address.
function(ostrel_ipv6 text out)
    set(${out} FALSE PARENT_SCOPE)
    set(groups 0)
    set(rest "${text}")
    if(rest MATCHES "^(.*:)([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
        foreach(part "${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}" "${CMAKE_MATCH_4}" "${CMAKE_MATCH_5}")
            if(part GREATER 255)
                return()
            endif()
        endforeach()
        set(rest "${CMAKE_MATCH_1}0")
        set(groups 1)
    endif()
    # The brackets hold only hexadecimal digits, colons and dots, so "!" marks the "::".
    string(REPLACE "::" "!" rest "${rest}")
    string(REGEX MATCHALL "!" elided "${rest}")
    list(LENGTH elided elided)
    if(rest MATCHES "[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]")
        return()
    endif()
    string(REPLACE "!" ";" halves "${rest};")
    foreach(half IN LISTS halves)
        if(NOT half STREQUAL "")
            if(NOT half MATCHES "^[0-9A-Fa-f]+(:[0-9A-Fa-f]+)*$")
                return()
            endif()
            string(REGEX MATCHALL "[0-9A-Fa-f]+" present "${half}")
            list(LENGTH present n)
            math(EXPR groups "${groups} + ${n}")
        endif()
    endforeach()
    if((elided EQUAL 0 AND groups EQUAL 8) OR (elided EQUAL 1 AND groups LESS 8))
        set(${out} TRUE PARENT_SCOPE)
    endif()
endfunction()

# The address rule of the update feed: "https" exactly (the scheme is case-sensitive), a host,
# and otherwise what a strict URL parser takes. Addresses outside ASCII are refused here (give
# the host as xn--… and the path percent-encoded), as are IPv6 zones and "[v1.…]" hosts, though
# the application would read some.
function(ostrel_feed_url_problem value out)
    string(STRIP "${value}" url)
    set(hex "[0-9A-Fa-f]")
    set(pct "%${hex}${hex}")
    set(label "[A-Za-z0-9_]([-A-Za-z0-9_]*[A-Za-z0-9_])?")
    set(host "(${label}(\\.${label})*\\.?|\\[[0-9A-Fa-f:.]+\\])")
    set(user "(([-A-Za-z0-9._~!$&'()*+,;=:]|${pct})*@)?")
    set(rest "([-A-Za-z0-9._~!$&'()*+,;=:@/?#]|\\[|\\]|${pct})*")
    if(url STREQUAL "")
        set(${out} "it is empty" PARENT_SCOPE)
    elseif(NOT url MATCHES "^https:")
        set(${out} "only an https address is taken (\"https\" in lower case)" PARENT_SCOPE)
    elseif(NOT url MATCHES "^https://${user}${host}(:[0-9]*)?([/?#]${rest})?$")
        set(${out} "it is not a whole address (https://host/path, in ASCII)" PARENT_SCOPE)
    else()
        string(REGEX MATCH "^https://[^/?#]*" authority "${url}")
        set(ipv6 TRUE)
        if(authority MATCHES "\\[(.*)\\]")
            ostrel_ipv6("${CMAKE_MATCH_1}" ipv6)
        endif()
        if(NOT ipv6)
            set(${out} "its host is not an IPv6 address" PARENT_SCOPE)
        elseif(authority MATCHES ":([0-9]+)$" AND CMAKE_MATCH_1 GREATER 65535)
            set(${out} "its port is beyond 65535" PARENT_SCOPE)
        else()
            set(${out} "" PARENT_SCOPE)
        endif()
    endif()
endfunction()

# The update public key: an Ed25519 key of 32 bytes in standard base64, as `sign-release keygen`
# prints it.
function(ostrel_public_key_problem value out)
    string(STRIP "${value}" key)
    string(REPEAT "[A-Za-z0-9+/]" 43 body)
    if(key MATCHES "^${body}=$")
        set(${out} "" PARENT_SCOPE)
    else()
        set(${out} "it is not a 32-byte key in base64 as `sign-release keygen` prints it"
            PARENT_SCOPE)
    endif()
endfunction()

# The version people see: one to four numbers separated by dots, as CMake's project version.
function(ostrel_version_problem value out)
    if(value MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
        set(${out} "" PARENT_SCOPE)
    else()
        set(${out} "it is not one to four numbers separated by dots (0.1.1)" PARENT_SCOPE)
    endif()
endfunction()

# The build number the updater compares: a whole number of at least 1 (one that does not read
# as a number counts as 0, which any release would replace).
function(ostrel_build_number_problem value out)
    string(LENGTH "${value}" length)
    if(value MATCHES "^[1-9][0-9]*$" AND length LESS 19)
        set(${out} "" PARENT_SCOPE)
    else()
        set(${out} "it is not a whole number from 1 to 18 digits" PARENT_SCOPE)
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    set(checks feed ostrel_feed_url_problem key ostrel_public_key_problem
        version ostrel_version_problem build ostrel_build_number_problem)
    list(FIND checks "${CHECK}" at)
    if(at LESS 0)
        message(FATAL_ERROR "usage: cmake -DCHECK=feed|key|version|build -DVALUE=text -P "
            "${CMAKE_CURRENT_LIST_FILE}")
    endif()
    math(EXPR at "${at} + 1")
    list(GET checks ${at} check)
    cmake_language(CALL ${check} "${VALUE}" problem)
    if(NOT problem STREQUAL "")
        message(FATAL_ERROR "${problem}")
    endif()
endif()
