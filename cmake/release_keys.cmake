# The release signing keys of a build: checking the configured value, telling
# the public test keys apart, and the tiny library that holds one set of keys.

# The public halves of the committed test key pairs, ";"-separated, in capitals.
file(GLOB _movora_test_key_files "${CMAKE_SOURCE_DIR}/tests/keys/TEST-ONLY-release-signing-key*.pub")
list(SORT _movora_test_key_files)
set(MOVORA_TEST_PUBLIC_KEYS "")
foreach(_file IN LISTS _movora_test_key_files)
    file(READ "${_file}" _key)
    string(STRIP "${_key}" _key)
    string(TOUPPER "${_key}" _key)
    list(APPEND MOVORA_TEST_PUBLIC_KEYS "${_key}")
endforeach()

# _movora_check_keys_on_curve(<keys>): stops the configure step unless every
# key is a point of the P-256 curve. Any 128 digits pass the format check, but
# a build with a key that is no point refuses every release list, so its users
# could never be updated. The release tool's own check decides (Python 3 and
# the openssl command, as tools/bootstrap installs them).
function(_movora_check_keys_on_curve keys)
    find_package(Python3 COMPONENTS Interpreter QUIET)
    if(NOT Python3_Interpreter_FOUND)
        message(FATAL_ERROR "MOVORA_RELEASE_PUBLIC_KEYS: checking that each key is a point of "
            "the P-256 curve needs Python 3, which configure did not find. Install it (run "
            "tools/bootstrap) or name it with -DPython3_EXECUTABLE=<path>.")
    endif()
    execute_process(
        COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/check_release_keys.py"
            ${keys}
        RESULT_VARIABLE result
        ERROR_VARIABLE sentence
        ERROR_STRIP_TRAILING_WHITESPACE)
    if(NOT result EQUAL 0)
        if(sentence STREQUAL "")
            set(sentence "The check of the keys did not run (${result}).")
        endif()
        message(FATAL_ERROR "MOVORA_RELEASE_PUBLIC_KEYS: ${sentence}")
    endif()
endfunction()

# movora_check_release_keys(<value> <out>): stops the configure step on a
# malformed value or a key that is no point of the P-256 curve; sets <out> to TRUE when the value holds a test key, and
# then warns that this build must not ship.
function(movora_check_release_keys value out)
    set(${out} FALSE PARENT_SCOPE)
    if(value STREQUAL "")
        return()
    endif()
    set(keys "${value}")
    list(LENGTH keys count)
    if(count GREATER 2)
        message(FATAL_ERROR "MOVORA_RELEASE_PUBLIC_KEYS holds ${count} keys: give one, or two "
            "separated by ';' while keys are rotated.")
    endif()
    set(testKey FALSE)
    foreach(key IN LISTS keys)
        string(LENGTH "${key}" length)
        if(NOT length EQUAL 128 OR NOT key MATCHES "^[0-9A-Fa-f]+$")
            message(FATAL_ERROR "MOVORA_RELEASE_PUBLIC_KEYS: \"${key}\" is not a public key: "
                "each key is 128 hexadecimal digits (X then Y of the P-256 point), two keys "
                "are separated by ';'.")
        endif()
        string(TOUPPER "${key}" upper)
        if(upper IN_LIST MOVORA_TEST_PUBLIC_KEYS)
            set(testKey TRUE)
        endif()
    endforeach()
    _movora_check_keys_on_curve("${keys}")
    if(testKey)
        message(WARNING "MOVORA_RELEASE_PUBLIC_KEYS holds a public TEST key from tests/keys: "
            "its private half is in the repository, so anyone can sign a release list this "
            "build accepts. This build must not ship.")
    endif()
    set(${out} ${testKey} PARENT_SCOPE)
endfunction()

# movora_release_keys_library(<name> <keys>): a static library whose one
# function, TrustedReleaseKeys, gives keys.
function(movora_release_keys_library name keys)
    set(MOVORA_TRUSTED_KEYS_OF_TARGET "${keys}")
    set(source "${CMAKE_BINARY_DIR}/generated/release_keys/${name}.cpp")
    configure_file("${CMAKE_SOURCE_DIR}/feed/release_keys.cpp.in" "${source}" @ONLY)
    add_library(${name} STATIC "${source}")
    target_link_libraries(${name} PRIVATE movora_options)
endfunction()
