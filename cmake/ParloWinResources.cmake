# Version details and manifests of the Windows binaries, from one template.
#
#   parlo_win_resources(<target> DESCRIPTION <text> ORIGINAL_FILENAME <name>
#                       [MANIFEST <template>])
#
# configures <target>_version.rc from cmake/version.rc.in, with VERSIONINFO
# taken from the project version, and adds it to the target's sources. With
# MANIFEST, the configured manifest goes into the same .rc (id 1 for a
# program, id 2 for a library). The linker merges this resource object with
# any other .rc the target has, so no binary's own .rc needs to know about it.
#
#   parlo_manifest_rc(<out-var> <template>)
#
# configures a manifest alone into an .rc (id 1) and names it in <out-var>:
# the manager's manifest, which its test programs carry too.

set(PARLO_RES_TEMPLATE_DIR ${CMAKE_CURRENT_LIST_DIR})

# Version parts for the templates; the zip, the installer and INSTALL.txt use
# the first three (the Makefile reads them from the same project() line).
macro(parlo_version_vars)
    foreach(part MAJOR MINOR PATCH TWEAK)
        set(PARLO_VERSION_${part} ${ParloMgr_VERSION_${part}})
        if(PARLO_VERSION_${part} STREQUAL "")
            set(PARLO_VERSION_${part} 0)
        endif()
    endforeach()
    set(PARLO_VERSION
        "${PARLO_VERSION_MAJOR}.${PARLO_VERSION_MINOR}.${PARLO_VERSION_PATCH}.${PARLO_VERSION_TWEAK}")
    # The architecture the manifest's own identity must name, or Windows
    # refuses to start the program (side-by-side configuration error).
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(PARLO_MANIFEST_ARCH amd64)
    else()
        set(PARLO_MANIFEST_ARCH x86)
    endif()
endmacro()

# Writes <dir>/<name>.manifest from <template> and leaves its path in <out-var>.
function(parlo_configure_manifest out_var template name)
    parlo_version_vars()
    get_filename_component(template ${template} ABSOLUTE)
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${name}.manifest)
    configure_file(${template} ${manifest} @ONLY)
    set(${out_var} ${manifest} PARENT_SCOPE)
endfunction()

function(parlo_manifest_rc out_var template)
    get_filename_component(name ${template} NAME_WE)
    parlo_configure_manifest(manifest ${template} ${name})
    # The manifest's hash makes the .rc change with it, so every target that
    # compiles this .rc (in whatever folder) is rebuilt when the manifest is.
    file(SHA1 ${manifest} hash)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${name}_manifest.rc)
    file(WRITE ${rc}.in
         "// The program's manifest (configured from ${template}; sha1 ${hash}).\n"
         "#include <windows.h>\nLANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n1 24 \"${manifest}\"\n")
    configure_file(${rc}.in ${rc} COPYONLY)
    set(${out_var} ${rc} PARENT_SCOPE)
endfunction()

function(parlo_win_resources target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "DESCRIPTION;ORIGINAL_FILENAME;MANIFEST" "")
    if(NOT ARG_DESCRIPTION OR NOT ARG_ORIGINAL_FILENAME)
        message(FATAL_ERROR "parlo_win_resources(${target}): DESCRIPTION and ORIGINAL_FILENAME are required")
    endif()
    parlo_version_vars()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
        set(PARLO_RES_FILETYPE VFT_DLL)
        set(manifest_id 2)
    else()
        set(PARLO_RES_FILETYPE VFT_APP)
        set(manifest_id 1)
    endif()
    set(PARLO_RES_DESCRIPTION ${ARG_DESCRIPTION})
    set(PARLO_RES_ORIGINAL_FILENAME ${ARG_ORIGINAL_FILENAME})
    get_filename_component(PARLO_RES_INTERNAL_NAME ${ARG_ORIGINAL_FILENAME} NAME_WE)
    set(PARLO_RES_MANIFEST "")
    if(ARG_MANIFEST)
        parlo_configure_manifest(manifest ${ARG_MANIFEST} ${target})
        file(SHA1 ${manifest} hash)
        set(PARLO_RES_MANIFEST "${manifest_id} 24 \"${manifest}\" // sha1 ${hash}")
    endif()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${PARLO_RES_TEMPLATE_DIR}/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
